#include "ExportRenderer.h"

#include "compositing/BorderCompositor.h"
#include "output/ImageMetadata.h"
#include "output/ImageWriter.h"
#include "output/TmpFilePath.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>

#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Offsets closer than this are the same placement: a re-fit rescales translation and
// reduced width together, and float rounding must not throw the render away.
constexpr double kOffsetTolerance = 1e-3;

bool sameImage(const QImage& a, const QImage& b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull();
    return a.cacheKey() == b.cacheKey();
}

int writerFormat(int format)
{
    return (format == 102 || format == 103) ? format : 101;
}

struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    qint64 modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

std::optional<FileStamp> stampOf(const QString& path)
{
    struct stat st;
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode) ||
        ::access(native.constData(), R_OK) != 0)
        return std::nullopt;
    return FileStamp{st.st_dev, st.st_ino, st.st_size,
                     qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

} // namespace

struct ExportRenderer::State {
    QImage photo;
    QImage border;
    QImage postMask;
    std::optional<QColor> color = QColor(Qt::white);
    bool autoRotate = true;
    bool offsetIsTranslation = false;
    QPointF translation;
    int reducedWidth = 0;
    QPointF fullOffset;
    int renderThreads = 0;

    std::shared_ptr<const ImageMetadata> metadata;
    bool preserveMetadata = false;
    int limitKB = 0;
    QString fileName;
    int fileFormat = 101;
    int jpegQuality = 90;
    bool hideExtension = false;
    std::function<void(int, qint64)> attemptLog;
};

// The file written last and everything that went into it.
struct ExportRenderer::Written {
    QString path;
    int format = 101;
    int quality = 0;
    int limitKB = 0;
    bool preserveMetadata = false;
    quint64 writeEpoch = 0;
    FileStamp stamp;
};

// What one write needs, taken under the lock so the encoding can run without it.
struct ExportRenderer::Job {
    QImage image;
    ImageWriter::Options options;
    std::shared_ptr<const ImageMetadata> metadata; // keeps options.metadata alive
    quint64 writeEpoch = 0;
    int limitKB = 0;
    bool preserveMetadata = false;
};

ExportRenderer::ExportRenderer() : _state(std::make_unique<State>()) {}

ExportRenderer::~ExportRenderer() = default;

void ExportRenderer::inputChangedLocked(bool compositeChanged)
{
    if (compositeChanged) {
        ++_compositeEpoch;
        _fullResolutionCache = QImage();
    }
    ++_writeEpoch;
    _written.reset();
}

QPointF ExportRenderer::offsetLocked() const
{
    const State& s = *_state;
    if (!s.offsetIsTranslation)
        return s.fullOffset;
    if (s.reducedWidth <= 0 || s.photo.isNull())
        return QPointF();
    return BorderCompositor::fullResolutionOffset(s.translation, s.photo.width(), s.reducedWidth);
}

void ExportRenderer::setImage(const QImage& photo)
{
    QMutexLocker lock(&_mutex);
    if (sameImage(_state->photo, photo))
        return;
    _state->photo = photo;
    inputChangedLocked(true);
}

void ExportRenderer::setBorderImage(const QImage& border)
{
    QMutexLocker lock(&_mutex);
    if (sameImage(_state->border, border))
        return;
    _state->border = border;
    inputChangedLocked(true);
}

void ExportRenderer::setPostMask(const QImage& postMask)
{
    QMutexLocker lock(&_mutex);
    if (sameImage(_state->postMask, postMask))
        return;
    _state->postMask = postMask;
    inputChangedLocked(true);
}

void ExportRenderer::setBorderColor(const std::optional<QColor>& color)
{
    QMutexLocker lock(&_mutex);
    if (_state->color == color)
        return;
    _state->color = color;
    inputChangedLocked(true);
}

void ExportRenderer::setAutoRotate(bool autoRotate)
{
    QMutexLocker lock(&_mutex);
    if (_state->autoRotate == autoRotate)
        return;
    _state->autoRotate = autoRotate;
    inputChangedLocked(true);
}

void ExportRenderer::setTranslation(QPointF translation, int reducedWidth)
{
    QMutexLocker lock(&_mutex);
    const QPointF before = offsetLocked();
    _state->offsetIsTranslation = true;
    _state->translation = translation;
    _state->reducedWidth = reducedWidth;
    const QPointF after = offsetLocked();
    if (std::abs(after.x() - before.x()) > kOffsetTolerance ||
        std::abs(after.y() - before.y()) > kOffsetTolerance)
        inputChangedLocked(true);
}

void ExportRenderer::setFullResolutionOffset(QPointF offset)
{
    QMutexLocker lock(&_mutex);
    const QPointF before = offsetLocked();
    _state->offsetIsTranslation = false;
    _state->fullOffset = offset;
    if (std::abs(offset.x() - before.x()) > kOffsetTolerance ||
        std::abs(offset.y() - before.y()) > kOffsetTolerance)
        inputChangedLocked(true);
}

void ExportRenderer::setMetadata(const ImageMetadata& metadata)
{
    QMutexLocker lock(&_mutex);
    _state->metadata = std::make_shared<const ImageMetadata>(metadata);
    inputChangedLocked(false);
}

void ExportRenderer::setPreserveMetadata(bool preserve)
{
    QMutexLocker lock(&_mutex);
    if (_state->preserveMetadata == preserve)
        return;
    _state->preserveMetadata = preserve;
    inputChangedLocked(false);
}

void ExportRenderer::setFilesizeLimit(int limitKB)
{
    QMutexLocker lock(&_mutex);
    if (_state->limitKB == qMax(0, limitKB))
        return;
    _state->limitKB = qMax(0, limitKB);
    inputChangedLocked(false);
}

void ExportRenderer::setFileName(const QString& name)
{
    QMutexLocker lock(&_mutex);
    _state->fileName = name;
}

void ExportRenderer::setFileFormat(int format)
{
    QMutexLocker lock(&_mutex);
    if (_state->fileFormat == format)
        return;
    _state->fileFormat = format;
    inputChangedLocked(false);
}

void ExportRenderer::setJpegQuality(int quality)
{
    QMutexLocker lock(&_mutex);
    if (_state->jpegQuality == quality)
        return;
    _state->jpegQuality = quality;
    inputChangedLocked(false);
}

void ExportRenderer::setHideExtension(bool hide)
{
    QMutexLocker lock(&_mutex);
    _state->hideExtension = hide;
}

void ExportRenderer::setAttemptLog(std::function<void(int, qint64)> log)
{
    QMutexLocker lock(&_mutex);
    _state->attemptLog = std::move(log);
}

void ExportRenderer::setRenderThreads(int threads)
{
    QMutexLocker lock(&_mutex);
    _state->renderThreads = qMax(0, threads);
}

bool ExportRenderer::hasImage() const
{
    QMutexLocker lock(&_mutex);
    return !_state->photo.isNull();
}

QPointF ExportRenderer::fullResolutionOffset() const
{
    QMutexLocker lock(&_mutex);
    return offsetLocked();
}

QImage ExportRenderer::renderComposite()
{
    QMutexLocker lock(&_mutex);
    if (!_fullResolutionCache.isNull() || _state->photo.isNull())
        return _fullResolutionCache;
    const State s = *_state;
    const QPointF offset = offsetLocked();
    const quint64 epoch = _compositeEpoch;
    lock.unlock();

    QImage image = BorderCompositor::compositeFullResolution(s.photo, s.border, s.postMask, s.color,
                                                             offset, s.autoRotate, s.renderThreads);

    lock.relock();
    if (epoch == _compositeEpoch)
        _fullResolutionCache = image;
    return image;
}

QImage ExportRenderer::fullResolutionImage()
{
    QMutexLocker render(&_renderMutex);
    return renderComposite();
}

void ExportRenderer::clearCache()
{
    QMutexLocker lock(&_mutex);
    ++_writeEpoch;
    _written.reset();
}

bool ExportRenderer::writtenMatchesLocked(const QString& path, int format, int quality) const
{
    if (!_written || _written->writeEpoch != _writeEpoch || _written->path != path)
        return false;
    const Written& w = *_written;
    const int kind = writerFormat(format);
    if (w.format != format)
        return false;
    if (kind == 101 && (w.quality != quality || w.limitKB != _state->limitKB))
        return false;
    if (kind != 102 && w.preserveMetadata != _state->preserveMetadata)
        return false;
    // The file must still be the one we wrote: not removed, replaced or rewritten since.
    const std::optional<FileStamp> now = stampOf(path);
    return now && *now == w.stamp;
}

bool ExportRenderer::isValidCacheAtPath(const QString& path) const
{
    QMutexLocker lock(&_mutex);
    return _written && writtenMatchesLocked(path, _written->format, _written->quality);
}

ExportRenderer::Job ExportRenderer::prepareJob(int format, int quality)
{
    Job job;
    {
        QMutexLocker lock(&_mutex);
        job.writeEpoch = _writeEpoch;
        job.limitKB = _state->limitKB;
        job.preserveMetadata = _state->preserveMetadata;
        job.metadata = _state->metadata;
        job.options.attemptLog = _state->attemptLog;
    }
    job.image = renderComposite();
    job.options.format = writerFormat(format);
    job.options.quality = quality;
    job.options.limitKB = job.options.format == 101 ? job.limitKB : 0;
    if (job.metadata) {
        // The colour profile belongs to the pixels, so it goes along whatever the choice.
        job.options.iccProfile = job.metadata->iccProfile();
        if (job.preserveMetadata && job.options.format != 102 && !job.metadata->isEmpty())
            job.options.metadata = job.metadata.get();
    }
    return job;
}

QByteArray ExportRenderer::encodeImage(int format, int quality, QString* error)
{
    QMutexLocker render(&_renderMutex);
    Job job = prepareJob(format, quality);
    if (job.image.isNull()) {
        if (error)
            *error = QStringLiteral("There is no photo to write.");
        return QByteArray();
    }
    return ImageWriter::encode(job.image, job.options, error);
}

QString ExportRenderer::writeImageToFile(const QString& name, int format, int quality,
                                         bool hideExtension, QString* error)
{
    // Files have no hidden-extension attribute here; the choice is taken and changes nothing.
    Q_UNUSED(hideExtension);
    QMutexLocker render(&_renderMutex);
    QString path = TmpFilePath::tmpPathForFormat(name, format);
    if (path.isEmpty()) {
        if (error)
            *error = QStringLiteral("No private temporary folder could be made in %1.")
                         .arg(QDir::tempPath());
        return QString();
    }
    {
        QMutexLocker lock(&_mutex);
        if (_state->photo.isNull()) {
            if (error)
                *error = QStringLiteral("There is no photo to write.");
            return QString();
        }
        if (writtenMatchesLocked(path, format, quality))
            return path;
    }

    Job job = prepareJob(format, quality);
    if (job.image.isNull()) {
        if (error)
            *error = QStringLiteral("The framed photo could not be rendered.");
        return QString();
    }
    if (!ImageWriter::writeImage(job.image, path, job.options, error))
        return QString();

    const std::optional<FileStamp> stamp = stampOf(path);
    QMutexLocker lock(&_mutex);
    // Inputs that changed while we were writing make this file stale at once.
    if (stamp && job.writeEpoch == _writeEpoch) {
        auto written = std::make_unique<Written>();
        written->path = path;
        written->format = format;
        written->quality = quality;
        written->limitKB = job.limitKB;
        written->preserveMetadata = job.preserveMetadata;
        written->writeEpoch = job.writeEpoch;
        written->stamp = *stamp;
        _written = std::move(written);
    }
    return path;
}

QString ExportRenderer::writeTmpFile(QString* error)
{
    QString name;
    int format = 101;
    int quality = 90;
    bool hide = false;
    {
        QMutexLocker lock(&_mutex);
        if (_state->photo.isNull())
            return QString();
        name = _state->fileName;
        format = _state->fileFormat;
        quality = _state->jpegQuality;
        hide = _state->hideExtension;
    }
    return writeImageToFile(name, format, quality, hide, error);
}

QString ExportRenderer::writeTmpFileWithFormat(int format, QString* error)
{
    QString name;
    int quality = 90;
    bool hide = false;
    {
        QMutexLocker lock(&_mutex);
        name = _state->fileName;
        quality = _state->jpegQuality;
        hide = _state->hideExtension;
    }
    return writeImageToFile(name, format, quality, hide, error);
}

void ExportRenderer::removeTmpFiles()
{
    TmpFilePath::removeTmpFiles();
}
