#pragma once

#include "output/FileFormat.h"

#include <QString>

// Where the temporary output files live: one private folder per running process, named
// after the process and its identifier (normally /tmp/Velluma4242). Files for drag-out,
// copy and send-to go there; a path the user chose is used as it stands.
//
// The folder is made with mode 0700. A thing that already sits at that path and is not a
// folder of ours that nobody else can enter (a symlink planted by another user, their
// folder, a folder others may write into) is never written into: a fresh private folder
// made by mkdtemp is used instead. All functions may be called from any thread.
namespace TmpFilePath {

// "jpg", "png", "tiff", "webp" or "avif"; empty for GIF, which is never written.
QString fileExtensionForFormat(FileFormat format);

// An absolute name is given back unchanged. A bare name becomes "<folder>/<name>.<ext>" in
// the process folder, which is created on demand; a slash inside a bare name is replaced
// so that the file always stays inside that folder. Empty when no private folder can be
// had (the caller's write then fails).
QString tmpPathForFormat(const QString& name, FileFormat format);

// The document's name as a bare file name: it never names a place outside the process
// folder, however it was typed. Every "/" (and NUL) becomes "_", so a leading "/" or "~/"
// stays part of the name; "." and ".." become "_" and "__". A name longer than 200 bytes
// in UTF-8 is cut there, which leaves room for the extension within a file name's 255.
QString bareName(const QString& name);

// The path the process folder should have: QDir::tempPath() + "/" + process name + pid.
// Nothing is created.
QString processFolderPath();

// The folder in use for this process, created on demand; empty when none can be made.
QString tmpFolder();

// True when the path is a real folder (not a symlink) owned by this user with no access
// for group or others.
bool isPrivateFolder(const QString& path);

// Removes the folder in use with everything in it. A thing at the process folder path
// that is not ours is left alone. The next temporary path makes a folder again.
void removeTmpFiles();

} // namespace TmpFilePath
