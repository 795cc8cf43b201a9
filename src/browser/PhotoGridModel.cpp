#include "PhotoGridModel.h"

#include "output/HeifCodec.h"
#include "output/JxlCodec.h"

#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QSet>

#include <algorithm>

namespace {

QSet<QString> readableSuffixes()
{
    QSet<QString> suffixes;
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        suffixes.insert(QString::fromLatin1(format).toLower());
    // Names the readers do not list under their own format name.
    suffixes.insert(QStringLiteral("jpeg"));
    suffixes.insert(QStringLiteral("tif"));
    // Phone and web photos Qt has no reader for.
    for (const char* phone : {"heic", "heif", "hif", "avif", "jxl"})
        suffixes.insert(QLatin1String(phone));
    // Vector and cursor formats are no photos to frame.
    for (const char* notPhoto : {"svg", "svgz", "ico", "cur", "icns", "xbm", "xpm", "pdf"})
        suffixes.remove(QLatin1String(notPhoto));
    return suffixes;
}

} // namespace

PhotoGridModel::PhotoGridModel(QObject* parent)
    : QAbstractListModel(parent), _folderIcon(QFileIconProvider().icon(QFileIconProvider::Folder))
{
    // Two decoders keep the grid filling without taking the whole machine.
    _pool.setMaxThreadCount(2);
    _placeholder = QPixmap(ThumbnailSize, ThumbnailSize);
    _placeholder.fill(Qt::transparent);
}

PhotoGridModel::~PhotoGridModel()
{
    _pool.clear();
    _pool.waitForDone();
}

bool PhotoGridModel::isPhotoName(const QString& fileName)
{
    static const QSet<QString> suffixes = readableSuffixes();
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && suffixes.contains(fileName.mid(dot + 1).toLower());
}

bool PhotoGridModel::setFolder(const QString& folder, QString* error)
{
    const QDir dir(folder);
    if (!dir.exists() || !QFileInfo(folder).isReadable()) {
        if (error)
            *error = tr("The folder \"%1\" cannot be read.").arg(folder);
        return false;
    }
    QList<Entry> entries;
    bool truncated = false;
    const QFileInfoList infos = dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot,
                                                  QDir::DirsFirst | QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& info : infos) {
        const bool isFolder = info.isDir();
        // Only regular files: a pipe or device named like a photo would block its reader.
        if (!isFolder && (!info.isFile() || !isPhotoName(info.fileName())))
            continue;
        if (entries.size() == MaxEntries) {
            truncated = true;
            break;
        }
        Entry entry;
        entry.path = info.absoluteFilePath();
        entry.name = info.fileName();
        entry.folder = isFolder;
        entries.append(entry);
    }

    // Thumbnails still on their way belong to the old folder.
    _pool.clear();
    ++_generation;
    beginResetModel();
    _entries = entries;
    _folder = dir.absolutePath();
    _truncated = truncated;
    _pending = 0;
    endResetModel();
    return true;
}

int PhotoGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(_entries.size());
}

QVariant PhotoGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= _entries.size())
        return QVariant();
    const Entry& entry = _entries.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return entry.name;
    case Qt::ToolTipRole:
    case PathRole:
        return entry.path;
    case IsFolderRole:
        return entry.folder;
    case Qt::DecorationRole:
        if (entry.folder)
            return _folderIcon;
        if (entry.thumbnail == Entry::Thumbnail::NotAsked)
            _request(index.row());
        return entry.thumbnail == Entry::Thumbnail::Ready ? entry.pixmap : _placeholder;
    default:
        return QVariant();
    }
}

void PhotoGridModel::_request(int row) const
{
    Entry& entry = _entries[row];
    entry.thumbnail = Entry::Thumbnail::Pending;
    ++_pending;
    const quint64 generation = _generation;
    const QString path = entry.path;
    // The model outlives every job (its destructor waits for the pool), and a result posted
    // to it after it is gone is dropped with its other events.
    auto* model = const_cast<PhotoGridModel*>(this);
    _pool.start([model, generation, path] {
        QString error;
        const QImage image = makeThumbnail(path, &error);
        QMetaObject::invokeMethod(
            model,
            [model, generation, path, image, error] {
                model->_thumbnailMade(generation, path, image, error);
            },
            Qt::QueuedConnection);
    });
}

void PhotoGridModel::_thumbnailMade(quint64 generation, const QString& path, const QImage& image,
                                    const QString& error)
{
    if (generation != _generation)
        return;
    --_pending;
    const auto found = std::find_if(_entries.begin(), _entries.end(),
                                    [&path](const Entry& entry) { return entry.path == path; });
    if (found != _entries.end()) {
        const int row = int(found - _entries.begin());
        if (image.isNull()) {
            beginRemoveRows(QModelIndex(), row, row);
            _entries.removeAt(row);
            endRemoveRows();
            emit photoSkipped(path, error);
        } else {
            // Every cell the same square, whatever the photo's shape: the view sizes all its
            // cells by one of them.
            QPixmap square(ThumbnailSize, ThumbnailSize);
            square.fill(Qt::transparent);
            QPainter painter(&square);
            painter.drawImage((ThumbnailSize - image.width()) / 2,
                              (ThumbnailSize - image.height()) / 2, image);
            painter.end();
            found->pixmap = square;
            found->thumbnail = Entry::Thumbnail::Ready;
            const QModelIndex changed = index(row);
            emit dataChanged(changed, changed, {Qt::DecorationRole});
        }
    }
    if (_pending == 0)
        emit thumbnailsSettled();
}

QImage PhotoGridModel::makeThumbnail(const QString& path, QString* error)
{
    auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return QImage();
    };
    if (!QFileInfo(path).isFile())
        return fail(tr("not a regular file"));
    QImage image;
    QString why;
    if (HeifCodec::isHeifFile(path))
        image = HeifCodec::read(path, MaxPixels, &why);
    else if (JxlCodec::isJxlFile(path))
        image = JxlCodec::read(path, MaxPixels, &why);
    else
        return makeQtThumbnail(path, error);
    if (image.isNull())
        return fail(why);
    if (image.width() > ThumbnailSize || image.height() > ThumbnailSize)
        image = image.scaled(ThumbnailSize, ThumbnailSize, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
    return image;
}

QImage PhotoGridModel::makeQtThumbnail(const QString& path, QString* error)
{
    auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return QImage();
    };
    QImageReader reader(path);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return fail(reader.errorString());
    const QSize size = reader.size();
    if (size.isValid()) {
        if (size.isEmpty() || qint64(size.width()) * size.height() > MaxPixels)
            return fail(tr("the picture claims an impossible size"));
        // Decoding straight to the small size keeps a large JPEG cheap.
        if (size.width() > ThumbnailSize || size.height() > ThumbnailSize)
            reader.setScaledSize(size.scaled(ThumbnailSize, ThumbnailSize, Qt::KeepAspectRatio)
                                     .expandedTo(QSize(1, 1)));
    }
    QImage image = reader.read();
    if (image.isNull())
        return fail(reader.errorString());
    if (image.width() > ThumbnailSize || image.height() > ThumbnailSize)
        image = image.scaled(ThumbnailSize, ThumbnailSize, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
    return image;
}
