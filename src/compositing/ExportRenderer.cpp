#include "ExportRenderer.h"

#include "compositing/BorderCompositor.h"
#include "foundation/Logging.h"
#include "output/ImageMetadata.h"
#include "output/ImageReader.h"
#include "output/ImageWriter.h"
#include "output/JpegBandReader.h"
#include "output/TmpFilePath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutexLocker>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

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

void setError(QString* error, const QString& message)
{
    if (error)
        *error = message;
}

// The photo rows each band of the canvas shows, decoded ahead on a thread of their own:
// decoding is the longest stage, so it overlaps with compositing and with the encoder
// rather than sharing a thread with them. Bands come out in order, a few at most waiting;
// their buffers go round again once composited. Without a thread the rows are decoded
// when asked for.
class PhotoRowsAhead {
public:
    struct Rows {
        QImage image;
        int first = 0; // photo rows [first, end); empty when the band shows none
        int end = 0;
        bool ok = true;
    };

    PhotoRowsAhead(JpegBandReader* reader, const BorderCompositor::FullResolutionLayers* layers,
                   int height, int bandRows)
        : _reader(reader), _layers(layers), _height(height), _bandRows(bandRows)
    {
        try {
            _thread = std::thread([this] {
                while (produce()) {
                }
                finish();
            });
        } catch (...) {
            Logging::logCaughtException("Starting the JPEG decoding thread");
        }
    }

    ~PhotoRowsAhead()
    {
        {
            std::lock_guard lock(_mutex);
            _stop = true;
        }
        _changed.notify_all();
        if (_thread.joinable())
            _thread.join();
    }

    PhotoRowsAhead(const PhotoRowsAhead&) = delete;
    PhotoRowsAhead& operator=(const PhotoRowsAhead&) = delete;

    // The next band's rows; waits for them.
    Rows take()
    {
        if (!_thread.joinable() && !produce())
            finish();
        std::unique_lock lock(_mutex);
        _changed.wait(lock, [this] { return !_ready.empty() || _finished; });
        if (_ready.empty())
            return Rows{QImage(), 0, 0, false}; // asked for more bands than there are
        Rows rows = std::move(_ready.front());
        _ready.pop_front();
        lock.unlock();
        _changed.notify_all();
        return rows;
    }

    void giveBack(QImage image)
    {
        std::lock_guard lock(_mutex);
        _spare.push_back(std::move(image));
    }

private:
    static constexpr size_t Depth = 3;

    void finish()
    {
        {
            std::lock_guard lock(_mutex);
            _finished = true;
        }
        _changed.notify_all();
    }

    // Decodes one band's rows; false when there is nothing more to do.
    bool produce() noexcept
    {
        if (_nextBand >= _height)
            return false;
        const int first = _nextBand;
        const int end = std::min(first + _bandRows, _height);
        _nextBand = end;
        Rows rows;
        std::tie(rows.first, rows.end) = BorderCompositor::photoRowsFor(*_layers, first, end);
        {
            std::unique_lock lock(_mutex);
            _changed.wait(lock, [this] { return _stop || _ready.size() < Depth; });
            if (_stop)
                return false;
            if (rows.first < rows.end && !_spare.empty()) {
                rows.image = std::move(_spare.back());
                _spare.pop_back();
            }
        }
        if (rows.first < rows.end) {
            try {
                rows.ok = _reader->skipRows(rows.first - _reader->nextRow()) &&
                          _reader->readRows(&rows.image, rows.end - rows.first);
            } catch (...) {
                Logging::logCaughtException("Decoding a band of the photo");
                rows.ok = false;
            }
        }
        const bool more = rows.ok;
        if (!more)
            _nextBand = _height;
        {
            std::lock_guard lock(_mutex);
            _ready.push_back(std::move(rows));
        }
        _changed.notify_all();
        return more;
    }

    JpegBandReader* _reader;
    const BorderCompositor::FullResolutionLayers* _layers;
    const int _height;
    const int _bandRows;
    int _nextBand = 0; // the decoding side's only
    std::mutex _mutex;
    std::condition_variable _changed;
    std::deque<Rows> _ready;
    std::vector<QImage> _spare;
    bool _stop = false;
    bool _finished = false;
    std::thread _thread;
};

} // namespace

// The file written last and everything that went into it.
struct ExportRenderer::Written {
    QString path;
    FramedPhoto::CompositeKey composite;
    const ImageMetadata* metadata = nullptr; // identity only, never read
    FileFormat format = FileFormat::Jpeg;
    int quality = 0;
    int qualityUsed = 0;
    int limitKB = 0;
    bool preserveMetadata = false;
    quint64 writeEpoch = 0;
    FileStamp stamp;
};

ExportRenderer::ExportRenderer() = default;

ExportRenderer::~ExportRenderer() = default;

void ExportRenderer::setAttemptLog(std::function<void(int, qint64)> log)
{
    QMutexLocker lock(&_mutex);
    _attemptLog = std::move(log);
}

void ExportRenderer::setPlaneBudget(qint64 bytes)
{
    QMutexLocker lock(&_mutex);
    _planeBudget = bytes;
}

void ExportRenderer::setRenderThreads(int threads)
{
    QMutexLocker lock(&_mutex);
    _renderThreads = qMax(0, threads);
}

QImage ExportRenderer::renderComposite(const FramedPhoto& framed)
{
    if (!framed.hasPhoto())
        return QImage();
    const FramedPhoto::CompositeKey key = framed.compositeKey();
    int threads = 0;
    {
        QMutexLocker lock(&_mutex);
        if (!_fullResolutionCache.isNull() && _renderedKey == key)
            return _fullResolutionCache;
        // The old render goes first, so that two full-size pictures are never held at once.
        _fullResolutionCache = QImage();
        threads = _renderThreads;
    }
    QImage image = BorderCompositor::compositeFullResolution(framed, threads);
    QMutexLocker lock(&_mutex);
    _fullResolutionCache = image;
    _renderedKey = key;
    return image;
}

QImage ExportRenderer::fullResolutionImage(const FramedPhoto& framed)
{
    QMutexLocker render(&_renderMutex);
    return renderComposite(framed);
}

void ExportRenderer::discardRender()
{
    QMutexLocker lock(&_mutex);
    _fullResolutionCache = QImage();
}

void ExportRenderer::clearCache()
{
    QMutexLocker lock(&_mutex);
    ++_writeEpoch;
    _written.reset();
}

bool ExportRenderer::writtenMatchesLocked(const QString& path, const FramedPhoto& framed,
                                          const Options& options) const
{
    if (!_written || _written->writeEpoch != _writeEpoch || _written->path != path)
        return false;
    const Written& w = *_written;
    const FileFormat format = options.format;
    if (w.format != format || !(w.composite == framed.compositeKey()))
        return false;
    if (isLossyFormat(format) && (w.quality != options.quality || w.limitKB != options.limitKB))
        return false;
    if (format != FileFormat::Png &&
        (w.preserveMetadata != options.preserveMetadata || w.metadata != framed.metadata.get()))
        return false;
    // The file must still be the one we wrote: not removed, replaced or rewritten since.
    const std::optional<FileStamp> now = stampOf(path);
    return now && *now == w.stamp;
}

bool ExportRenderer::isValidCacheAtPath(const QString& path, const FramedPhoto& framed,
                                        const Options& options) const
{
    QMutexLocker lock(&_mutex);
    return writtenMatchesLocked(path, framed, options);
}

ImageWriter::Options ExportRenderer::writerOptions(const FramedPhoto& framed,
                                                   const Options& options, int* lastQuality) const
{
    ImageWriter::Options writer;
    writer.format = options.format;
    writer.quality = options.quality;
    writer.limitKB = isLossyFormat(writer.format) ? qMax(0, options.limitKB) : 0;
    std::function<void(int, qint64)> log;
    {
        QMutexLocker lock(&_mutex);
        log = _attemptLog;
        writer.planeBudget = _planeBudget;
    }
    *lastQuality = options.quality;
    writer.attemptLog = [lastQuality, log](int quality, qint64 bytes) {
        *lastQuality = quality;
        if (log)
            log(quality, bytes);
    };
    if (const ImageMetadata* metadata = framed.metadata.get()) {
        // The colour profile belongs to the pixels, so it goes along whatever the choice.
        writer.iccProfile = metadata->iccProfile();
        if (options.preserveMetadata && writer.format != FileFormat::Png && !metadata->isEmpty())
            writer.metadata = metadata;
    }
    return writer;
}

ImageWriter::BandSourceMaker ExportRenderer::compositeBands(const FramedPhoto& framed)
{
    const QImage* photo = &framed.photo;
    const QSize size = photo->size();
    QImage kept;
    {
        QMutexLocker lock(&_mutex);
        if (_renderedKey == framed.compositeKey())
            kept = _fullResolutionCache;
    }
    // A render that is kept anyway (fullResolutionImage's) is handed over as it stands.
    if (!kept.isNull()) {
        return [kept, size]() -> JpegEncoder::BandSource {
            auto nextRow = std::make_shared<int>(0);
            return [kept, size, nextRow](QImage* band) {
                const int end = std::min(*nextRow + BandRows, size.height());
                *band = QImage(kept.constScanLine(*nextRow), kept.width(), end - *nextRow,
                               kept.bytesPerLine(), kept.format());
                *nextRow = end;
                return !band->isNull();
            };
        };
    }

    auto layers = std::make_shared<const BorderCompositor::FullResolutionLayers>(
        BorderCompositor::fullResolutionLayers(framed, size));
    // The compositor reads these two formats as they are; any other is converted a band
    // of rows at a time, which gives the same pixels as converting the whole photo.
    const bool readable = photo->format() == QImage::Format_RGB32 ||
                          photo->format() == QImage::Format_ARGB32_Premultiplied;
    return [photo, size, layers, readable]() -> JpegEncoder::BandSource {
        struct State {
            int nextRow = 0;
            QImage converted;
        };
        auto state = std::make_shared<State>();
        return [photo, size, layers, readable, state](QImage* band) {
            const int first = state->nextRow;
            const int end = std::min(first + BandRows, size.height());
            const auto [photoFirst, photoEnd] = BorderCompositor::photoRowsFor(*layers, first, end);
            state->nextRow = end;
            if (readable)
                return BorderCompositor::compositeBand(*layers, *photo, 0, first, end, band);
            if (photoFirst < photoEnd) {
                QImage rows(photo->constScanLine(photoFirst), size.width(), photoEnd - photoFirst,
                            photo->bytesPerLine(), photo->format());
                if (photo->colorCount() > 0)
                    rows.setColorTable(photo->colorTable());
                state->converted = rows.convertToFormat(QImage::Format_ARGB32_Premultiplied);
                if (state->converted.isNull())
                    return false;
            }
            return BorderCompositor::compositeBand(*layers, state->converted, photoFirst, first,
                                                   end, band);
        };
    };
}

QByteArray ExportRenderer::encodeLocked(const FramedPhoto& framed, const Options& options,
                                        QString* error, int* qualityUsed)
{
    int quality = options.quality;
    const ImageWriter::Options writer = writerOptions(framed, options, &quality);
    QByteArray data =
        ImageWriter::encodeBands(framed.photo.size(), compositeBands(framed), writer, error);
    if (data.isEmpty())
        explainEmptyResult(options, error);
    else if (qualityUsed)
        *qualityUsed = quality;
    return data;
}

QByteArray ExportRenderer::encodeImage(const FramedPhoto& framed, const Options& options,
                                       QString* error, int* qualityUsed)
{
    QMutexLocker render(&_renderMutex);
    if (!framed.hasPhoto()) {
        setError(error,
                 QCoreApplication::translate("ExportRenderer", "There is no photo to write."));
        return QByteArray();
    }
    return encodeLocked(framed, options, error, qualityUsed);
}

QByteArray ExportRenderer::encodeJpegFromFile(const FramedPhoto& framed, const QString& photoPath,
                                              const Options& options, QString* error,
                                              bool* streamable, int* qualityUsed)
{
    *streamable = false;
    if (options.format != FileFormat::Jpeg ||
        (framed.metadata && framed.metadata->orientation() != 1))
        return {};
    JpegBandReader reader(photoPath);
    const QSize size = reader.size();
    if (!reader.isOpen() || qint64(size.width()) * size.height() > ImageReader::MaxPixels)
        return {};

    const BorderCompositor::FullResolutionLayers layers =
        BorderCompositor::fullResolutionLayers(framed, size);
    bool readFailed = false;
    int nextRow = 0;
    QImage photoRows;
    int photoFirstRow = 0;
    // The photo rows a band shows follow straight on from those of the band before, so
    // the file is read once from the top; rows pushed off the canvas are read and dropped.
    PhotoRowsAhead ahead(&reader, &layers, size.height(), BandRows);
    auto bands = [&](QImage* band) {
        const int first = nextRow;
        const int end = std::min(first + BandRows, size.height());
        PhotoRowsAhead::Rows rows = ahead.take();
        if (!rows.ok) {
            readFailed = true;
            return false;
        }
        if (rows.first < rows.end) {
            if (!photoRows.isNull())
                ahead.giveBack(std::exchange(photoRows, QImage()));
            photoRows = std::move(rows.image);
            photoFirstRow = rows.first;
        }
        nextRow = end;
        return BorderCompositor::compositeBand(layers, photoRows, photoFirstRow, first, end, band);
    };

    QMutexLocker render(&_renderMutex);
    int quality = options.quality;
    QString why;
    QByteArray data =
        ImageWriter::encodeJpegBands(size, bands, writerOptions(framed, options, &quality), &why);
    if (readFailed)
        return {};
    *streamable = true;
    if (data.isEmpty()) {
        setError(error, why);
        explainEmptyResult(options, error);
    } else if (qualityUsed) {
        *qualityUsed = quality;
    }
    return data;
}

QString ExportRenderer::writeImageToFile(const FramedPhoto& framed, const QString& name,
                                         const Options& options, QString* error, int* qualityUsed)
{
    // Files have no hidden-extension attribute here; the choice is taken and changes nothing.
    QMutexLocker render(&_renderMutex);
    if (!framed.hasPhoto()) {
        setError(error,
                 QCoreApplication::translate("ExportRenderer", "There is no photo to write."));
        return QString();
    }
    QString path = TmpFilePath::tmpPathForFormat(name, options.format);
    if (path.isEmpty()) {
        setError(error, QCoreApplication::translate(
                            "ExportRenderer", "No private temporary folder could be made in %1.")
                            .arg(QDir::tempPath()));
        return QString();
    }
    quint64 epoch = 0;
    {
        QMutexLocker lock(&_mutex);
        if (writtenMatchesLocked(path, framed, options)) {
            if (qualityUsed)
                *qualityUsed = _written->qualityUsed;
            return path;
        }
        epoch = _writeEpoch;
    }

    int quality = options.quality;
    if (!ImageWriter::writeBands(framed.photo.size(), compositeBands(framed),
                                 writerOptions(framed, options, &quality), path, error)) {
        explainEmptyResult(options, error);
        return QString();
    }
    if (qualityUsed)
        *qualityUsed = quality;

    const std::optional<FileStamp> stamp = stampOf(path);
    QMutexLocker lock(&_mutex);
    // A clearCache() while we were writing makes this file stale at once.
    if (stamp && epoch == _writeEpoch) {
        _written = std::make_unique<Written>(Written{
            path, framed.compositeKey(), framed.metadata.get(), options.format, options.quality,
            quality, qMax(0, options.limitKB), options.preserveMetadata, epoch, *stamp});
    } else {
        _written.reset();
    }
    return path;
}

void ExportRenderer::explainEmptyResult(const Options& options, QString* error)
{
    // The file-size search ends without a word when even its lowest quality is too large.
    if (error && error->isEmpty() && options.format == FileFormat::Jpeg && options.limitKB > 0)
        *error = QCoreApplication::translate("ExportRenderer",
                                             "No JPEG quality brings the picture under %1 KB.")
                     .arg(options.limitKB);
}

void ExportRenderer::removeTmpFiles()
{
    TmpFilePath::removeTmpFiles();
}
