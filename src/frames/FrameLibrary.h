#pragma once

#include "compositing/LoadedFrame.h"
#include "frames/ThumbnailEntry.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// The frame collections on disk: the built-in root in the resources and the user's own
// root in the data folder. A collection is a folder, its frames the image files in it.
namespace FrameLibrary {

inline const QString USER_FRAME_FOLDER = QStringLiteral("Velluma User Frames");
inline const QString USER_FRAME_SAMPLE_FOLDER = QStringLiteral("My Frames");
inline const QString CollectionsPlistName = QStringLiteral("collections.plist");

// Resources::pathFor("borders").
QString builtinFrameFolder();

// The user frame folder under the data location, created with "My Frames" the first time;
// empty when it cannot be had (creation failed, or a file holds the name).
QString userFrameFolder();
// Same rule under another data folder (tests, the benchmark).
QString userFrameFolderIn(const QString& dataFolder);

// Collection names of a root: the strings of "collections.plist" when its root is an
// array (other elements left out), else the subfolders in name order. Names that begin
// with "." or are not a single path component are left out.
QStringList collectionNamesForFolder(const QString& root);

// Frame files of a collection folder in listing (name) order: regular, non-hidden files.
// Post masks are included here; the thumbnail step leaves them out.
QStringList frameCandidatesInFolder(const QString& folder);

// One collection read from disk; missing thumbnails are made on both cores.
ThumbnailList collectionForFolder(const QString& folder);

// Several collections at once, all their frames shared among the cores; the result has
// one list per folder, in order.
QList<ThumbnailList> collectionsForFolders(const QStringList& folders);

// When the root's "collections.plist" decides which collections exist, a collection made,
// renamed or removed through the program must be entered there too, or it would vanish
// (or linger) at the next start. Replaces oldName by newName in the list: an empty oldName
// appends, an empty newName removes. True when there is no such list or it was updated.
bool updateCollectionOrder(const QString& root, const QString& oldName, const QString& newName);

enum class NameProblem {
    None,
    Empty,     // nothing but white space
    Separator, // contains "/" or "\"
    Hidden,    // begins with "."
    TooLong,   // more than 255 bytes on disk
    Exists,    // an existing collection or anything on disk under that name
};

// Checks a collection name typed by the user (already trimmed by the caller if wanted)
// against the names listed and whatever lies in root.
NameProblem checkCollectionName(const QString& name, const QStringList& existingNames,
                                const QString& root);

// What to tell the user about a refused name; empty for NameProblem::None.
QString nameProblemMessage(NameProblem problem, const QString& name);

// The file work behind the commands on user collections; a failure comes back with a
// message for the user. Creating, renaming and removing keep the root's
// "collections.plist" in step.

// Makes the folder of a new collection; the name is checked against existingNames and root.
bool createCollection(const QString& root, const QString& name, const QStringList& existingNames,
                      QString* error = nullptr);
// Renames a collection's folder; oldName among existingNames does not count as taken.
// Renaming to the same name changes nothing and succeeds.
bool renameCollection(const QString& root, const QString& oldName, const QString& newName,
                      const QStringList& existingNames, QString* error = nullptr);
// Moves the folder to a hidden name before deleting it, so that a removal failing half-way
// never leaves a half-emptied collection on show. A symlink or file under the name is
// removed itself, never what it points to. A name that is not there succeeds.
bool removeCollection(const QString& root, const QString& name, QString* error = nullptr);
// Copies the image files among paths into a collection folder, keeping their names, and
// the frames' layouts ("_frame.plist", not counted). Hidden names and anything else that
// is not an image are passed over; a file of the same name already
// there is kept and only its thumbnail is made afresh. The number of frames now there for
// the given paths; *error names the files that could not be copied.
int copyFramesInto(const QString& folder, const QStringList& paths, QString* error = nullptr);
// Deletes one frame file; a file that is already gone counts as deleted.
bool deleteFrame(const QString& path, QString* error = nullptr);

// The companion post mask of a frame: the frame's path without its extension followed by
// "_postmask.png". A leading dot of the file name does not start an extension; empty in,
// empty out.
QString postMaskPathFor(const QString& framePath);
// The same with "_postmask.svg": a post mask drawn as SVG, used when there is no PNG one.
QString vectorPostMaskPathFor(const QString& framePath);
// The frame's layout: the path without extension followed by "_frame.plist".
QString geometryPathFor(const QString& framePath);
// True for files beside the frames that are not frames: post masks and layouts.
bool isCompanionPath(const QString& path);

// The layout of a frame of the given size from its "_frame.plist" (plain when there is
// none); what is wrong with the file is logged and left out.
FrameGeometry readGeometry(const QString& framePath, QSizeF frameSize);

using LoadedFrame = ::LoadedFrame;

// Reads a frame upright (EXIF orientation) within the reader's size cap, or as a drawing
// when it is an SVG file, with its post mask when that file exists and its layout, all
// mirrored left to right when flip is set. An empty path is no frame and succeeds with
// null images. On failure *out is cleared and *error says which file could not be read
// and why.
bool loadFrame(const QString& framePath, bool flip, LoadedFrame* out, QString* error = nullptr);

// "Collection/Name": the frame called Name (its file name with or without extension) in a
// collection of the built-in root, else of the user's; empty when there is no such frame.
QString frameForName(const QString& collectionAndName, const QString& builtinRoot,
                     const QString& userRoot);

// A file name for a downloaded URL that stays inside the collection: the URL's last path
// component when it is a plain name, else "Downloaded Frame" (keeping a plain extension).
QString safeFileNameForUrl(const QUrl& url);

// folder + "/" + name when nothing is there yet, else "name-1.ext", "name-2.ext", ...
QString uniqueDestinationPath(const QString& folder, const QString& name);

} // namespace FrameLibrary
