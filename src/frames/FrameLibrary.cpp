#include "FrameLibrary.h"

#include "compositing/ImageProcessor.h"
#include "foundation/Logging.h"
#include "foundation/PropertyList.h"
#include "foundation/Resources.h"
#include "frames/ThumbnailCache.h"
#include "output/ImageReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentMap>

#include <optional>
#include <vector>

namespace FrameLibrary {

QString builtinFrameFolder()
{
    return Resources::pathFor(QStringLiteral("borders"));
}

QString userFrameFolder()
{
    return userFrameFolderIn(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
}

QString userFrameFolderIn(const QString& dataFolder)
{
    if (dataFolder.isEmpty())
        return {};
    QString path = QDir(dataFolder).filePath(USER_FRAME_FOLDER);
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink())
        return info.isDir() ? path : QString();
    // A fresh account may not have its data folder yet.
    if (!QDir().mkpath(dataFolder))
        return {};
    if (!QDir(dataFolder).mkdir(USER_FRAME_FOLDER))
        return {};
    if (!QDir(path).mkdir(USER_FRAME_SAMPLE_FOLDER))
        return {};
    return path;
}

namespace {

const QLatin1String GeometrySuffix("_frame.plist");

// A name usable as one folder directly under a root.
bool isPlainName(const QString& name)
{
    return !name.isEmpty() && !name.startsWith(QLatin1Char('.')) &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           !name.contains(QChar(0));
}

} // namespace

QStringList collectionNamesForFolder(const QString& root)
{
    if (root.isEmpty())
        return {};
    QStringList names;
    const QString plistPath = QDir(root).filePath(CollectionsPlistName);
    const QFileInfo plistInfo(plistPath);
    QVariant order;
    if (plistInfo.isFile())
        order = PropertyList::fromFile(plistPath, 1024 * 1024);
    if (order.typeId() == QMetaType::QVariantList) {
        for (const QVariant& item : order.toList()) {
            if (item.typeId() == QMetaType::QString)
                names.append(item.toString());
        }
    } else {
        // Name order is what the original file system listed; readdir order is arbitrary.
        const QDir dir(root);
        const QFileInfoList entries =
            dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
        for (const QFileInfo& entry : entries) {
            // A folder under the order file's name is not a collection either.
            if (entry.fileName() != CollectionsPlistName)
                names.append(entry.fileName());
        }
    }
    QStringList kept;
    for (const QString& name : std::as_const(names)) {
        if (isPlainName(name))
            kept.append(name);
    }
    return kept;
}

QStringList frameCandidatesInFolder(const QString& folder)
{
    QStringList paths;
    if (folder.isEmpty())
        return paths;
    const QDir dir(folder);
    // Files only: "tncache" and other folders never make frames; hidden files neither.
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName() == CollectionsPlistName)
            continue;
        paths.append(entry.filePath());
    }
    return paths;
}

ThumbnailList collectionForFolder(const QString& folder)
{
    return collectionsForFolders({folder}).value(0);
}

QList<ThumbnailList> collectionsForFolders(const QStringList& folders)
{
    struct Job {
        int collection;
        QString path;
    };
    std::vector<Job> jobs;
    for (int i = 0; i < folders.size(); ++i) {
        for (const QString& path : frameCandidatesInFolder(folders.at(i))) {
            if (!isCompanionPath(path))
                jobs.push_back({i, path});
        }
    }
    // A frame that exhausts memory is left out; thrown from a pool thread it would end the
    // program at every start.
    const std::function<std::optional<ThumbnailEntry>(const Job&)> makeEntry =
        [](const Job& job) -> std::optional<ThumbnailEntry> {
        try {
            return ThumbnailCache::thumbnailForPath(job.path);
        } catch (const std::bad_alloc&) {
            Logging::logCaughtException("Making a thumbnail", job.path);
            return std::nullopt;
        }
    };
    const QList<std::optional<ThumbnailEntry>> entries =
        QtConcurrent::blockingMapped<QList<std::optional<ThumbnailEntry>>>(jobs, makeEntry);

    QList<ThumbnailList> collections(folders.size());
    for (size_t j = 0; j < jobs.size(); ++j) {
        if (entries.at(qsizetype(j)))
            collections[jobs[j].collection].append(*entries.at(qsizetype(j)));
    }
    return collections;
}

bool updateCollectionOrder(const QString& root, const QString& oldName, const QString& newName)
{
    if (root.isEmpty())
        return true;
    const QString plistPath = QDir(root).filePath(CollectionsPlistName);
    if (!QFileInfo(plistPath).isFile())
        return true;
    const QVariant order = PropertyList::fromFile(plistPath, 1024 * 1024);
    if (order.typeId() != QMetaType::QVariantList)
        return true; // the listing decides; nothing to keep in step
    QVariantList list = order.toList();
    const qsizetype at = oldName.isEmpty() ? -1 : list.indexOf(QVariant(oldName));
    if (at >= 0) {
        if (newName.isEmpty())
            list.removeAt(at);
        else
            list[at] = newName;
    } else if (!newName.isEmpty() && !list.contains(QVariant(newName))) {
        list.append(newName);
    }
    return PropertyList::toFile(list, plistPath);
}

NameProblem checkCollectionName(const QString& name, const QStringList& existingNames,
                                const QString& root)
{
    if (name.trimmed().isEmpty())
        return NameProblem::Empty;
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
        name.contains(QChar(0)))
        return NameProblem::Separator;
    if (name.startsWith(QLatin1Char('.')))
        return NameProblem::Hidden;
    if (name.toUtf8().size() > 255)
        return NameProblem::TooLong;
    if (existingNames.contains(name))
        return NameProblem::Exists;
    if (!root.isEmpty()) {
        const QFileInfo info(QDir(root).filePath(name));
        if (info.exists() || info.isSymLink())
            return NameProblem::Exists;
    }
    return NameProblem::None;
}

QString nameProblemMessage(NameProblem problem, const QString& name)
{
    switch (problem) {
    case NameProblem::Empty:
        return QCoreApplication::translate("FrameLibrary", "Please type a name for the frame set.");
    case NameProblem::Separator:
        return QCoreApplication::translate("FrameLibrary",
                                           "A frame set name cannot contain \"/\" or \"\\\".");
    case NameProblem::Hidden:
        return QCoreApplication::translate("FrameLibrary",
                                           "A frame set name cannot begin with \".\".");
    case NameProblem::TooLong:
        return QCoreApplication::translate("FrameLibrary", "The name is too long.");
    case NameProblem::Exists:
        return QCoreApplication::translate("FrameLibrary", "A frame set named '%1' already exists.")
            .arg(name);
    case NameProblem::None:
        break;
    }
    return {};
}

namespace {

bool fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
}

bool isTaken(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

bool createCollection(const QString& root, const QString& name, const QStringList& existingNames,
                      QString* error)
{
    if (root.isEmpty())
        return fail(error,
                    QCoreApplication::translate(
                        "FrameLibrary", "The folder for your own frame sets cannot be made."));
    const NameProblem problem = checkCollectionName(name, existingNames, root);
    if (problem != NameProblem::None)
        return fail(error, nameProblemMessage(problem, name));
    if (!QDir(root).mkdir(name))
        return fail(
            error, QCoreApplication::translate("FrameLibrary", "The folder '%1' could not be made.")
                       .arg(name));
    updateCollectionOrder(root, QString(), name);
    return true;
}

bool renameCollection(const QString& root, const QString& oldName, const QString& newName,
                      const QStringList& existingNames, QString* error)
{
    if (newName == oldName)
        return true;
    QStringList others = existingNames;
    others.removeAll(oldName);
    const NameProblem problem = checkCollectionName(newName, others, root);
    if (problem != NameProblem::None)
        return fail(error, nameProblemMessage(problem, newName));
    if (root.isEmpty() || !QDir(root).rename(oldName, newName))
        return fail(
            error,
            QCoreApplication::translate("FrameLibrary", "'%1' could not be renamed.").arg(oldName));
    updateCollectionOrder(root, oldName, newName);
    return true;
}

namespace {

bool removeCollectionFolder(const QString& root, const QString& name)
{
    const QString path = QDir(root).filePath(name);
    const QFileInfo info(path);
    if (!isTaken(path))
        return true;
    if (info.isSymLink() || !info.isDir())
        return QFile::remove(path);
    QString hidden;
    for (int i = 0; i < 1000 && hidden.isEmpty(); ++i) {
        const QString candidate = QStringLiteral(".removing-%1-%2").arg(name, QString::number(i));
        if (!QFileInfo::exists(QDir(root).filePath(candidate)))
            hidden = candidate;
    }
    if (hidden.isEmpty() || !QDir(root).rename(name, hidden))
        return false;
    QDir(QDir(root).filePath(hidden)).removeRecursively();
    return true;
}

} // namespace

bool removeCollection(const QString& root, const QString& name, QString* error)
{
    if (root.isEmpty() || !removeCollectionFolder(root, name))
        return fail(error, QCoreApplication::translate("FrameLibrary",
                                                       "The folder of '%1' could not be removed.")
                               .arg(name));
    updateCollectionOrder(root, name, QString());
    return true;
}

int copyFramesInto(const QString& folder, const QStringList& paths, QString* error)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        fail(error,
             QCoreApplication::translate("FrameLibrary", "The frame set's folder is missing."));
        return 0;
    }
    int count = 0;
    QStringList failed;
    for (const QString& path : paths) {
        const QString name = QFileInfo(path).fileName();
        // A hidden name would be copied and never shown.
        if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
            continue;
        // A frame's layout comes along with it, though it is no frame of its own.
        if (name.endsWith(GeometrySuffix) && QFileInfo(path).isFile() &&
            QFileInfo(path).size() <= 1024 * 1024) {
            const QString destination = QDir(folder).filePath(name);
            if (!isTaken(destination) && !QFile::copy(path, destination))
                failed.append(name);
            continue;
        }
        if (!ThumbnailCache::isImageFile(path))
            continue;
        const QString destination = QDir(folder).filePath(name);
        if (!isTaken(destination) && !QFile::copy(path, destination)) {
            failed.append(name);
            continue;
        }
        QFile::remove(ThumbnailCache::cachePathForPath(destination));
        ++count;
    }
    if (!failed.isEmpty())
        fail(error, QCoreApplication::translate("FrameLibrary", "Could not be copied: %1.")
                        .arg(failed.join(QStringLiteral(", "))));
    return count;
}

bool deleteFrame(const QString& path, QString* error)
{
    if (!QFile::remove(path) && QFileInfo::exists(path))
        return fail(error, QCoreApplication::translate("FrameLibrary", "'%1' could not be deleted.")
                               .arg(QFileInfo(path).fileName()));
    return true;
}

namespace {

// The frame's path without its extension; a leading dot of the name starts none.
QString stemOf(const QString& framePath)
{
    const qsizetype nameStart = framePath.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype dot = framePath.lastIndexOf(QLatin1Char('.'));
    return dot > nameStart ? framePath.left(dot) : framePath;
}

} // namespace

QString postMaskPathFor(const QString& framePath)
{
    if (framePath.isEmpty())
        return {};
    return stemOf(framePath) + QStringLiteral("_postmask.png");
}

QString vectorPostMaskPathFor(const QString& framePath)
{
    if (framePath.isEmpty())
        return {};
    return stemOf(framePath) + QStringLiteral("_postmask.svg");
}

QString geometryPathFor(const QString& framePath)
{
    if (framePath.isEmpty())
        return {};
    return stemOf(framePath) + GeometrySuffix;
}

bool isCompanionPath(const QString& path)
{
    return ThumbnailCache::isPostMaskPath(path) || path.endsWith(GeometrySuffix);
}

FrameGeometry readGeometry(const QString& framePath, QSizeF frameSize)
{
    const QString path = geometryPathFor(framePath);
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return {};
    const QVariant root = PropertyList::fromFile(path, 1024 * 1024);
    QStringList warnings;
    if (!root.isValid())
        warnings.append(QStringLiteral("not a readable property list"));
    const FrameGeometry geometry = root.isValid()
                                       ? FrameGeometry::fromPropertyList(root, frameSize, &warnings)
                                       : FrameGeometry();
    for (const QString& warning : std::as_const(warnings))
        qCWarning(lcVelluma).noquote() << QStringLiteral("%1: %2 (ignored)").arg(path, warning);
    return geometry;
}

namespace {

bool exists(const QString& path)
{
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

} // namespace

bool loadFrame(const QString& framePath, bool flip, LoadedFrame* out, QString* error)
{
    *out = {};
    if (framePath.isEmpty())
        return true;
    QString why;
    LoadedFrame loaded;
    QString damage;
    QSizeF frameSize;
    if (VectorImage::isVectorPath(framePath)) {
        loaded.frameDrawing = VectorImage::fromFile(framePath, &why);
        if (!loaded.frameDrawing)
            return fail(error,
                        QCoreApplication::translate("FrameLibrary", "%1: cannot read the frame: %2")
                            .arg(framePath, why));
        frameSize = loaded.frameDrawing->size();
    } else {
        loaded.frame = ImageReader::readImage(framePath, &why, &damage);
        // What a damaged frame lacks would be framed as flat gray.
        if (loaded.frame.isNull() || !damage.isEmpty())
            return fail(error,
                        QCoreApplication::translate("FrameLibrary", "%1: cannot read the frame: %2")
                            .arg(framePath, loaded.frame.isNull() ? why : damage));
        frameSize = loaded.frame.size();
    }
    const QString maskPath = postMaskPathFor(framePath);
    const QString vectorMaskPath = vectorPostMaskPathFor(framePath);
    // A mask that is there but cannot be followed (a link to nowhere, a loop) is a damaged
    // frame, not a frame without a mask.
    if (exists(maskPath)) {
        loaded.postMask = ImageReader::readImage(maskPath, &why, &damage);
        if (!damage.isEmpty())
            loaded.postMask = QImage(), why = damage;
        if (loaded.postMask.isNull())
            return fail(error, QCoreApplication::translate("FrameLibrary",
                                                           "%1: cannot read the post mask: %2")
                                   .arg(maskPath, why));
    } else if (exists(vectorMaskPath)) {
        loaded.postMaskDrawing = VectorImage::fromFile(vectorMaskPath, &why);
        if (!loaded.postMaskDrawing)
            return fail(error, QCoreApplication::translate("FrameLibrary",
                                                           "%1: cannot read the post mask: %2")
                                   .arg(vectorMaskPath, why));
    }
    loaded.geometry = readGeometry(framePath, frameSize);
    if (flip) {
        loaded.frame = ImageProcessor::flipImageHorizontal(loaded.frame);
        loaded.postMask = ImageProcessor::flipImageHorizontal(loaded.postMask);
        if (loaded.frameDrawing)
            loaded.frameDrawing = loaded.frameDrawing->flipped();
        if (loaded.postMaskDrawing)
            loaded.postMaskDrawing = loaded.postMaskDrawing->flipped();
        loaded.geometry = loaded.geometry.flipped();
    }
    *out = std::move(loaded);
    return true;
}

QString frameForName(const QString& collectionAndName, const QString& builtinRoot,
                     const QString& userRoot)
{
    const qsizetype slash = collectionAndName.indexOf(QLatin1Char('/'));
    if (slash <= 0 || slash != collectionAndName.lastIndexOf(QLatin1Char('/')))
        return {};
    const QString collection = collectionAndName.left(slash);
    const QString name = collectionAndName.mid(slash + 1);
    if (!isPlainName(collection) || !isPlainName(name))
        return {};
    for (const QString& root : {builtinRoot, userRoot}) {
        if (root.isEmpty() || !collectionNamesForFolder(root).contains(collection))
            continue;
        const QString folder = QDir(root).filePath(collection);
        QString byBaseName;
        for (const QString& path : frameCandidatesInFolder(folder)) {
            if (isCompanionPath(path))
                continue;
            const QFileInfo info(path);
            if (info.fileName() == name)
                return path;
            if (byBaseName.isEmpty() && info.completeBaseName() == name)
                byBaseName = path;
        }
        if (!byBaseName.isEmpty())
            return byBaseName;
    }
    return {};
}

QString safeFileNameForUrl(const QUrl& url)
{
    QString fallback = QStringLiteral("Downloaded Frame");
    // The decoded last component: "%2F" or "%2E%2E" must not sneak a separator or a
    // parent reference past the check.
    QString path = url.path(QUrl::FullyDecoded);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    QString name = slash >= 0 ? path.mid(slash + 1) : path;
    QString cleaned;
    for (const QChar c : std::as_const(name)) {
        if (c.category() == QChar::Other_Control)
            continue;
        cleaned.append(c);
    }
    name = cleaned.trimmed();
    const bool plain =
        isPlainName(name) && name != QLatin1String("..") && name.toUtf8().size() <= 200;
    if (plain)
        return name;
    // Keep a recognisable extension from the refused name ("../../x.png" -> ".png").
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0) {
        const QString extension = name.mid(dot + 1);
        bool simple = !extension.isEmpty() && extension.size() <= 5;
        for (const QChar c : extension)
            simple = simple && c.isLetterOrNumber() && c.unicode() < 128;
        if (simple)
            return fallback + QLatin1Char('.') + extension.toLower();
    }
    return fallback;
}

QString uniqueDestinationPath(const QString& folder, const QString& name)
{
    const QDir dir(folder);
    QString first = dir.filePath(name);
    if (!isTaken(first))
        return first;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    for (int i = 1; i < 10000; ++i) {
        QString candidate =
            dir.filePath(QStringLiteral("%1-%2%3").arg(base, QString::number(i), extension));
        if (!isTaken(candidate))
            return candidate;
    }
    return {};
}

} // namespace FrameLibrary
