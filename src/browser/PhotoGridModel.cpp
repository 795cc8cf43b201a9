#include "PhotoGridModel.h"

#include "foundation/InputGuard.h"
#include "output/HeifCodec.h"
#include "output/JxlCodec.h"

#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QImageReader>
#include <QPainter>
#include <QSet>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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
    return setNativeFolder(QFile::encodeName(QDir(folder).absolutePath()), error);
}

QString PhotoGridModel::folder() const
{
    return QFile::decodeName(_folder);
}

bool PhotoGridModel::setNativeFolder(const QByteArray& folder, QString* error)
{
    // Read by its bytes: Qt's listing gives names that are no UTF-8 in a spelling that
    // opens nothing.
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.constData()), ::closedir);
    if (!dir || !folder.startsWith('/')) {
        if (error)
            *error = tr("The folder \"%1\" cannot be read.").arg(QFile::decodeName(folder));
        return false;
    }
    const QByteArray prefix = folder.endsWith('/') ? folder : folder + '/';
    QList<Entry> entries;
    while (const dirent* item = ::readdir(dir.get())) {
        const QByteArray name(item->d_name);
        // Hidden entries, and "." and "..", are not shown.
        if (name.startsWith('.'))
            continue;
        struct stat st;
        if (::fstatat(::dirfd(dir.get()), item->d_name, &st, 0) != 0)
            continue;
        const bool isFolder = S_ISDIR(st.st_mode);
        // Only regular files: a pipe or device named like a photo would block its reader.
        if (!isFolder && (!S_ISREG(st.st_mode) || !isPhotoName(QFile::decodeName(name))))
            continue;
        Entry entry;
        entry.path = prefix + name;
        entry.name = QFile::decodeName(name);
        entry.folder = isFolder;
        entries.append(entry);
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.folder != b.folder)
            return a.folder;
        const int order = a.name.compare(b.name, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.path < b.path;
    });
    const bool truncated = entries.size() > MaxEntries;
    if (truncated)
        entries.resize(MaxEntries);

    // Thumbnails still on their way belong to the old folder.
    _pool.clear();
    ++_generation;
    beginResetModel();
    _entries = entries;
    _folder = prefix.size() > 1 ? prefix.chopped(1) : prefix;
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
        return QFile::decodeName(entry.path);
    case NativePathRole:
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
    const QByteArray path = entry.path;
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

void PhotoGridModel::_thumbnailMade(quint64 generation, const QByteArray& path, const QImage& image,
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
            emit photoSkipped(QFile::decodeName(path), error);
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
}

QImage PhotoGridModel::makeThumbnail(const QString& path, QString* error)
{
    return makeThumbnail(QFile::encodeName(path), error);
}

QImage PhotoGridModel::makeThumbnail(const QByteArray& nativePath, QString* error)
{
    auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return QImage();
    };
    // Opened without waiting, so that a pipe put in the photo's place is never waited for.
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        return fail(tr("not a regular file"));
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(file.errorString());
    }
    // Qt's drawing plugin takes any packed file, whatever its name, and unpacks it whole.
    QString notPicture;
    if (!InputGuard::checkPicture(file.peek(InputGuard::SniffBytes), &notPicture))
        return fail(notPicture);
    // HEIF, AVIF and JPEG XL have decoders of their own, which take a name: the open file's,
    // which holds for names that are no UTF-8 too.
    const QString opened = QStringLiteral("/proc/self/fd/%1").arg(file.handle());
    const bool heif = HeifCodec::isHeifFile(opened);
    if (heif || JxlCodec::isJxlFile(opened)) {
        QString why;
        QImage image = heif ? HeifCodec::read(opened, MaxPixels, &why)
                            : JxlCodec::read(opened, MaxPixels, &why);
        if (image.isNull())
            return fail(why);
        if (image.width() > ThumbnailSize || image.height() > ThumbnailSize)
            image = image.scaled(ThumbnailSize, ThumbnailSize, Qt::KeepAspectRatio,
                                 Qt::SmoothTransformation);
        return image;
    }
    QImageReader reader(&file);
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
