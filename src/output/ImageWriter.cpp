#include "output/ImageWriter.h"

#include "foundation/FileManagerExtras.h"
#include "foundation/Logging.h"
#include "output/FileFormat.h"
#include "output/HeifCodec.h"
#include "output/ImageMetadata.h"
#include "output/JpegEncoder.h"
#include "output/PngBandEncoder.h"
#include "output/TiffBandEncoder.h"
#include "output/WebpEncoder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QCoreApplication>
#include <QFileInfo>
#include <QImageWriter>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <map>
#include <memory>

namespace ImageWriter {

namespace {

void setError(QString* error, const QString& message)
{
    qCWarning(lcVelluma, "%s", qUtf8Printable(message));
    if (error)
        *error = message;
}

// Pictures smaller than this encode in a few milliseconds; guessing ahead would cost more
// than it saves.
constexpr qint64 SpeculationMinimumPixels = 1'500'000;
// The size estimate encodes one band of 16 rows in this many; it comes within a few per
// cent of the real size on photos.
constexpr int SampleStep = 16;
constexpr float LikelyFit = 0.9f;

// Encodes the qualities the search is likely to ask for next on the other core while the
// current one is encoded, so that a search of several attempts takes about half as long.
// The search itself is unchanged: an attempt is only ever taken from an encode of exactly
// the quality asked for, and guesses that turn out wrong are cancelled.
class SpeculativeAttempts {
public:
    SpeculativeAttempts(const JpegEncoder& encoder, qint64 limit,
                        std::function<QByteArray(const QByteArray&)> finish)
        : _encoder(encoder), _limit(limit), _finish(std::move(finish)),
          _sample(encoder.sample(SampleStep))
    {
        _pool.setMaxThreadCount(2);
        _scale = double(encoder.bandCount()) / double(std::max(1, _sample.bandCount()));
    }

    ~SpeculativeAttempts()
    {
        for (auto& [quality, job] : _jobs)
            job.cancel->store(true);
        _pool.waitForDone();
    }

    QByteArray operator()(int quality)
    {
        // Guesses above the quality asked for can no longer be wanted: qualities only fall.
        for (auto it = _jobs.begin(); it != _jobs.end();) {
            if (it->first > quality) {
                it->second.cancel->store(true);
                it = _jobs.erase(it);
            } else {
                ++it;
            }
        }
        start(quality);
        const int guess = guessNext(quality);
        for (auto it = _jobs.begin(); it != _jobs.end();) {
            if (it->first != quality && it->first != guess) {
                it->second.cancel->store(true);
                it = _jobs.erase(it);
            } else {
                ++it;
            }
        }
        if (guess > 0)
            start(guess);

        QFuture<QByteArray> future = _jobs[quality].future;
        const QByteArray data = future.result();
        _jobs.erase(quality);
        if (data.isEmpty())
            return {};
        QByteArray full = _finish(data);
        const qint64 estimate = rawEstimate(quality);
        if (estimate > 0)
            _correction = double(full.size()) / double(estimate);
        return full;
    }

private:
    struct Job {
        std::shared_ptr<std::atomic_bool> cancel;
        QFuture<QByteArray> future;
    };

    void start(int quality)
    {
        if (quality <= 0 || _jobs.count(quality))
            return;
        auto cancel = std::make_shared<std::atomic_bool>(false);
        const JpegEncoder* encoder = &_encoder;
        QFuture<QByteArray> future = QtConcurrent::run(
            &_pool, [encoder, quality, cancel] { return encoder->encode(quality, cancel.get()); });
        _jobs[quality] = Job{cancel, future};
    }

    qint64 rawEstimate(int quality)
    {
        auto it = _sampleSizes.find(quality);
        if (it == _sampleSizes.end())
            it = _sampleSizes.emplace(quality, _sample.encode(quality).size()).first;
        return qint64(double(it->second) * _scale);
    }

    int guessNext(int quality)
    {
        const double estimate = double(rawEstimate(quality)) * _correction;
        if (estimate <= 0)
            return 0;
        // A clear fit needs no next step; near the limit the estimate may be off either
        // way, so the next step is prepared all the same. Wasted encodes would slow the
        // batch framer, which keeps every core busy with photos of its own.
        const float ratio = float(estimate) / float(_limit);
        if (ratio < LikelyFit)
            return 0;
        return int(nextFactorForFactor(float(quality), std::max(ratio, 1.0f)));
    }

    const JpegEncoder& _encoder;
    const qint64 _limit;
    std::function<QByteArray(const QByteArray&)> _finish;
    JpegEncoder _sample;
    double _scale = 1;
    double _correction = 1;
    std::map<int, qint64> _sampleSizes;
    std::map<int, Job> _jobs;
    QThreadPool _pool;
};

QByteArray profileFor(const QImage& image, const Options& options)
{
    if (!options.iccProfile.isEmpty())
        return options.iccProfile;
    if (image.colorSpace().isValid())
        return image.colorSpace().iccProfile();
    return {};
}

// The file-size search and its messages, over the prepared planes of encoder or, without
// them, over a picture made and handed over in bands anew for each attempt.
QByteArray searchJpeg(QSize size, const QByteArray& profile, const Options& options, QString* error,
                      const JpegEncoder* encoder, const BandSourceMaker* make)
{
    const ImageMetadata* metadata = options.metadata;
    auto finish = [metadata, size](const QByteArray& data) {
        return metadata ? metadata->combineData(data, FormatJPEG, size) : data;
    };
    const int limitKB = std::max(options.limitKB, 0);
    QByteArray result;
    if (!encoder) {
        result = searchQuality(
            options.quality, limitKB,
            [&](int quality) {
                return finish(JpegEncoder::encodeBands(size, quality, profile, (*make)()));
            },
            options.attemptLog);
    } else if (limitKB > 0 && qint64(size.width()) * size.height() >= SpeculationMinimumPixels) {
        SpeculativeAttempts attempts(*encoder, qint64(limitKB) << 10, finish);
        result = searchQuality(options.quality, limitKB, std::ref(attempts), options.attemptLog);
    } else {
        result = searchQuality(
            options.quality, limitKB, [&](int quality) { return finish(encoder->encode(quality)); },
            options.attemptLog);
    }
    if (result.isEmpty()) {
        if (options.quality <= 0)
            setError(error, QCoreApplication::translate("ImageWriter",
                                                        "The JPEG quality must be at least 1."));
        else if (limitKB > 0)
            setError(error, QCoreApplication::translate(
                                "ImageWriter", "No JPEG quality brings the picture under %1 KB.")
                                .arg(limitKB));
        else
            setError(error, QCoreApplication::translate(
                                "ImageWriter", "The picture could not be encoded as JPEG."));
    }
    return result;
}

QByteArray preparationFailed(QString* error)
{
    setError(error,
             QCoreApplication::translate(
                 "ImageWriter", "The picture could not be prepared for JPEG (out of memory?)."));
    return {};
}

QByteArray encodeJpeg(const QImage& image, const Options& options, QString* error)
{
    JpegEncoder encoder(image);
    if (!encoder.isValid())
        return preparationFailed(error);
    const QByteArray profile = profileFor(image, options);
    encoder.setIccProfile(profile);
    return searchJpeg(encoder.size(), profile, options, error, &encoder, nullptr);
}

// True when some pixel is not fully opaque.
bool hasTransparency(const QImage& image)
{
    if (!image.hasAlphaChannel())
        return false;
    if (image.depth() > 32) {
        // At its own depth: an alpha a step under full would round to opaque in 8 bits.
        const QImage rgba = image.convertToFormat(QImage::Format_RGBA64);
        for (int y = 0; y < rgba.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgba64*>(rgba.constScanLine(y));
            if (std::any_of(row, row + rgba.width(), [](QRgba64 p) { return !p.isOpaque(); }))
                return true;
        }
        return false;
    }
    const QImage argb = image.format() == QImage::Format_ARGB32 ||
                                image.format() == QImage::Format_ARGB32_Premultiplied
                            ? image
                            : image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        if (std::any_of(row, row + argb.width(), [](QRgb p) { return qAlpha(p) != 255; }))
            return true;
    }
    return false;
}

// An opaque picture goes without an alpha channel: a quarter of the samples fewer, and
// print services refuse some files with one. Decided from the pixels, which is exact
// whatever made them; the bands are made once more for it, up to the first clear pixel.
bool bandsHaveTransparency(QSize size, const BandSourceMaker& make)
{
    const JpegEncoder::BandSource bands = make();
    QImage band;
    for (int row = 0; row < size.height(); row += band.height()) {
        // A picture that cannot be made fails in the encoder, with its reason.
        if (!bands(&band) || band.isNull() || band.height() == 0)
            return true;
        if (hasTransparency(band))
            return true;
    }
    return false;
}

// Qt's PNG and TIFF writers store the colour space they are handed; profiles that Qt
// cannot parse go in through Exiv2 afterwards.
QByteArray encodeWithQt(const QImage& image, const Options& options, const char* format,
                        QString* error)
{
    // Qt's writers give an alpha channel to every picture of a format that has one.
    QImage picture = image.hasAlphaChannel() && !hasTransparency(image)
                         ? image.convertToFormat(image.depth() > 32 ? QImage::Format_RGBX64
                                                                    : QImage::Format_RGB32)
                         : image;
    const QByteArray profile = profileFor(image, options);
    bool profileByExiv2 = false;
    if (!options.iccProfile.isEmpty()) {
        const QColorSpace space = QColorSpace::fromIccProfile(profile);
        if (space.isValid()) {
            if (picture.colorSpace() != space)
                picture.setColorSpace(space);
        } else {
            picture.setColorSpace(QColorSpace());
            profileByExiv2 = true;
        }
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (qstrcmp(format, "tiff") == 0)
        writer.setCompression(1); // LZW
    // Qt spreads 0 to 100 over zlib's levels; its default (level 6) takes three times as
    // long as level 4 on a photo for files that are no smaller.
    if (qstrcmp(format, "png") == 0)
        writer.setCompression(41);
    if (!writer.write(picture)) {
        setError(error,
                 QCoreApplication::translate("ImageWriter", "The picture could not be encoded: %1.")
                     .arg(writer.errorString()));
        return {};
    }
    buffer.close();
    if (qstrcmp(format, "tiff") == 0 && options.metadata)
        data = options.metadata->combineData(data, FormatTIFF, image.size());
    if (profileByExiv2)
        data = ImageMetadata::attachIccProfile(data, profile);
    return data;
}

// WebP and AVIF: the picture is prepared once and each quality of the file-size search
// encodes it with the metadata blocks.
QByteArray encodeWebOrAvif(QSize size, const JpegEncoder::BandSource& bands,
                           const QByteArray& profile, const Options& options, QString* error)
{
    const bool avif = fileFormatForCode(options.format) == FormatAVIF;
    const QString name = avif ? QStringLiteral("AVIF") : QStringLiteral("WebP");
    ImageMetadata::Blocks blocks;
    if (options.metadata)
        blocks = options.metadata->blocksForFile(size);
    blocks.icc = profile;
    const int limitKB = std::max(options.limitKB, 0);
    QString why;
    QByteArray result;
    if (avif) {
        const HeifCodec::AvifPicturePtr picture = HeifCodec::prepareAvif(size, bands, &why);
        if (picture)
            result = searchQuality(
                options.quality, limitKB,
                [&](int quality) { return HeifCodec::encodeAvif(*picture, quality, blocks, &why); },
                options.attemptLog);
    } else {
        const QImage picture = WebpEncoder::prepare(size, bands, &why);
        if (!picture.isNull())
            result = searchQuality(
                options.quality, limitKB,
                [&](int quality) { return WebpEncoder::encode(picture, quality, blocks, &why); },
                options.attemptLog);
    }
    if (!result.isEmpty())
        return result;
    if (options.quality <= 0)
        setError(error,
                 QCoreApplication::translate("ImageWriter", "The %1 quality must be at least 1.")
                     .arg(name));
    else if (why.isEmpty() && limitKB > 0)
        setError(error, QCoreApplication::translate("ImageWriter",
                                                    "No %1 quality brings the picture under %2 KB.")
                            .arg(name)
                            .arg(limitKB));
    else
        setError(error, QCoreApplication::translate("ImageWriter",
                                                    "The picture could not be encoded as %1: %2.")
                            .arg(name, why));
    return {};
}

// The whole picture as one band.
JpegEncoder::BandSource wholePicture(const QImage& image)
{
    auto given = std::make_shared<bool>(false);
    return [image, given](QImage* band) {
        if (*given)
            return false;
        *given = true;
        *band = image;
        return true;
    };
}

} // namespace

double nextFactorForFactor(double factor, double ratio)
{
    // The quality and ratio arrive in single precision; r meets 3, 2 and 1.5 in single
    // precision and every other bound widened to double, which decides the cases that
    // land exactly on a bound (1.1f is a little above 1.1).
    const float q = float(factor);
    const float r = float(ratio);
    const double rd = double(r);
    const bool high = q >= 95.0f;
    float next;
    if (r > 3.0f) {
        if (q == 100.0f)
            next = 95.0f;
        else if (q >= 97.0f && q < 100.0f)
            next = q - 20.0f;
        else
            next = q - 40.0f;
    } else if (r > 2.0f) {
        next = high ? q - 5.0f : q - 30.0f;
    } else if (rd > 1.7) {
        next = high ? q - 5.0f : q - 20.0f;
    } else if (rd > 1.6) {
        next = high ? q - 5.0f : q - 16.0f;
    } else if (r > 1.5f) {
        next = high ? q - 5.0f : q - 13.0f;
    } else if (rd > 1.4) {
        next = high ? q - 5.0f : q - 10.0f;
    } else if (rd > 1.3) {
        next = high ? q - 4.0f : q - 9.0f;
    } else if (rd > 1.2) {
        next = high ? q - 4.0f : q - 8.0f;
    } else if (rd > 1.17) {
        next = high ? q - 3.0f : q - 7.0f;
    } else if (rd > 1.15) {
        next = high ? q - 2.0f : q - 6.0f;
    } else if (rd > 1.13) {
        next = high ? q - 2.0f : q - 5.0f;
    } else if (rd > 1.1) {
        next = high ? q - 2.0f : q - 4.0f;
    } else if (rd > 1.07) {
        next = high ? q - 2.0f : q - 3.0f;
    } else if (rd > 1.03) {
        next = q - 2.0f;
    } else {
        next = q - 1.0f;
    }
    return double(next);
}

QByteArray searchQuality(int quality, int limitKB, const AttemptFunction& attempt,
                         const std::function<void(int, qint64)>& attemptLog)
{
    const qint64 limit = limitKB > 0 ? qint64(limitKB) << 10 : 0;
    const float limitF = float(limit);
    int q = quality;
    while (q > 0) {
        QByteArray data = attempt(q);
        // An encoder that fails once fails at every quality; trying on would only waste
        // time before giving the same answer.
        if (data.isEmpty())
            return {};
        if (attemptLog)
            attemptLog(q, data.size());
        // Exactly the limit is too large.
        if (limit == 0 || data.size() < limit)
            return data;
        const float ratio = float(data.size()) / limitF;
        q = int(nextFactorForFactor(float(q), ratio));
    }
    return {};
}

QByteArray encode(const QImage& image, const Options& options, QString* error)
{
    if (image.isNull()) {
        setError(error,
                 QCoreApplication::translate("ImageWriter", "There is no picture to write."));
        return {};
    }
    try {
        switch (fileFormatForCode(options.format)) {
        case FormatPNG:
            return encodeWithQt(image, options, "png", error);
        case FormatTIFF:
            return encodeWithQt(image, options, "tiff", error);
        case FormatWEBP:
        case FormatAVIF:
            return encodeWebOrAvif(image.size(), wholePicture(image), profileFor(image, options),
                                   options, error);
        default:
            return encodeJpeg(image, options, error);
        }
    } catch (...) {
        // Only allocation failures get here (also from the worker threads).
        Logging::logCaughtException("Encoding the picture");
        setError(error, QCoreApplication::translate("ImageWriter",
                                                    "Not enough memory to encode the picture."));
        return {};
    }
}

QByteArray encodeJpegBands(QSize size, const JpegEncoder::BandSource& bands, const Options& options,
                           QString* error)
{
    try {
        // The search needs the planes again for every attempt; one plain encode needs
        // nothing but the band under way.
        if (options.limitKB <= 0 || options.quality <= 0) {
            const BandSourceMaker once = [&bands] { return bands; };
            return searchJpeg(size, options.iccProfile, options, error, nullptr, &once);
        }
        JpegEncoder encoder = JpegEncoder::fromBands(size, bands);
        if (!encoder.isValid())
            return preparationFailed(error);
        encoder.setIccProfile(options.iccProfile);
        return searchJpeg(size, options.iccProfile, options, error, &encoder, nullptr);
    } catch (...) {
        Logging::logCaughtException("Encoding the picture");
        setError(error, QCoreApplication::translate("ImageWriter",
                                                    "Not enough memory to encode the picture."));
        return {};
    }
}

QByteArray encodeBands(QSize size, const BandSourceMaker& make, const Options& options,
                       QString* error)
{
    const FileFormat format = fileFormatForCode(options.format);
    if (format == FormatJPEG) {
        // Planes of 4:2:0: a byte a pixel of luma and a quarter each of the two chroma.
        const qint64 planes = qint64(size.width()) * size.height() * 3 / 2;
        if (options.limitKB <= 0 || options.quality <= 0 || planes <= options.planeBudget)
            return encodeJpegBands(size, make(), options, error);
        try {
            return searchJpeg(size, options.iccProfile, options, error, nullptr, &make);
        } catch (...) {
            Logging::logCaughtException("Encoding the picture");
            setError(error, QCoreApplication::translate(
                                "ImageWriter", "Not enough memory to encode the picture."));
            return {};
        }
    }
    if (format == FormatWEBP || format == FormatAVIF) {
        try {
            return encodeWebOrAvif(size, make(), options.iccProfile, options, error);
        } catch (...) {
            Logging::logCaughtException("Encoding the picture");
            setError(error, QCoreApplication::translate(
                                "ImageWriter", "Not enough memory to encode the picture."));
            return {};
        }
    }
    try {
        const bool alpha = bandsHaveTransparency(size, make);
        const JpegEncoder::BandSource bands = make();
        // As encodeWithQt: a profile Qt cannot parse goes in through Exiv2 afterwards.
        QColorSpace space;
        if (!options.iccProfile.isEmpty())
            space = QColorSpace::fromIccProfile(options.iccProfile);
        QString why;
        QByteArray data = format == FormatPNG
                              ? PngBandEncoder::encode(size, bands, space, alpha, &why)
                              : TiffBandEncoder::encode(size, bands, space, alpha, &why);
        if (data.isEmpty()) {
            setError(error, why);
            return {};
        }
        if (format == FormatTIFF && options.metadata)
            data = options.metadata->combineData(data, FormatTIFF, size);
        if (!options.iccProfile.isEmpty() && !space.isValid())
            data = ImageMetadata::attachIccProfile(data, options.iccProfile);
        return data;
    } catch (...) {
        Logging::logCaughtException("Encoding the picture");
        setError(error, QCoreApplication::translate("ImageWriter",
                                                    "Not enough memory to encode the picture."));
        return {};
    }
}

bool writeBands(QSize size, const BandSourceMaker& make, const Options& options,
                const QString& path, QString* error)
{
    const FileFormat format = fileFormatForCode(options.format);
    QColorSpace space;
    if (!options.iccProfile.isEmpty())
        space = QColorSpace::fromIccProfile(options.iccProfile);
    // Metadata, and a profile Qt cannot parse, go in through Exiv2, which needs the whole
    // file; a JPEG is small enough to be finished in memory.
    const bool streamed = (format == FormatPNG || (format == FormatTIFF && !options.metadata)) &&
                          (options.iccProfile.isEmpty() || space.isValid());
    if (!streamed) {
        const QByteArray data = encodeBands(size, make, options, error);
        return !data.isEmpty() && writeData(data, path, error);
    }
    QString encodingFailure;
    bool alpha = true;
    const auto writePng = [&](QFileDevice& file) {
        // Gathered into pieces of a megabyte: libpng hands over a few kilobytes at a time.
        constexpr qsizetype Piece = 1 << 20;
        QByteArray piece;
        QString reason;
        const PngBandEncoder::Sink sink = [&](const char* bytes, qint64 count) {
            piece.append(bytes, qsizetype(count));
            if (piece.size() >= Piece) {
                reason = FileManagerExtras::writeAll(file, piece.constData(), piece.size());
                piece.clear();
            }
            return reason.isEmpty();
        };
        if (PngBandEncoder::write(size, make(), space, alpha, sink, &encodingFailure))
            return FileManagerExtras::writeAll(file, piece.constData(), piece.size());
        return reason;
    };
    const auto writeTiff = [&](QFileDevice& file) {
        if (!file.flush())
            return file.errorString();
        QString reason;
        TiffBandEncoder::write(size, make(), space, alpha, file.handle(), &encodingFailure,
                               &reason);
        return reason;
    };
    const auto writeFile = [&](QFileDevice& file) {
        QString reason;
        try {
            alpha = bandsHaveTransparency(size, make);
            reason = format == FormatPNG ? writePng(file) : writeTiff(file);
        } catch (...) {
            Logging::logCaughtException("Encoding the picture");
            encodingFailure = QCoreApplication::translate(
                "ImageWriter", "Not enough memory to encode the picture.");
        }
        // The temporary file goes, whichever side failed.
        return reason.isEmpty() && !encodingFailure.isEmpty() ? encodingFailure : reason;
    };
    QString reason;
    if (FileManagerExtras::writeFileAtomically(path, writeFile, &reason))
        return true;
    if (!encodingFailure.isEmpty())
        setError(error, encodingFailure);
    else
        setError(error,
                 QCoreApplication::translate("ImageWriter", "\"%1\" could not be written: %2.")
                     .arg(QFileInfo(path).fileName(), reason));
    return false;
}

bool writeImage(const QImage& image, const QString& path, const Options& options, QString* error)
{
    // Encode first: only a finished file ever reaches the disk.
    const QByteArray data = encode(image, options, error);
    return !data.isEmpty() && writeData(data, path, error);
}

bool writeData(const QByteArray& data, const QString& path, QString* error)
{
    QString reason;
    if (!FileManagerExtras::writeFileAtomically(path, data, &reason)) {
        setError(error,
                 QCoreApplication::translate("ImageWriter", "\"%1\" could not be written: %2.")
                     .arg(QFileInfo(path).fileName(), reason));
        return false;
    }
    return true;
}

} // namespace ImageWriter
