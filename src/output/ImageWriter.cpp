#include "output/ImageWriter.h"

#include "foundation/FileManagerExtras.h"
#include "foundation/Logging.h"
#include "output/AvifEncoder.h"
#include "output/FileFormat.h"
#include "output/ImageMetadata.h"
#include "output/JpegEncoder.h"
#include "output/PngBandEncoder.h"
#include "output/SpeculativeAttempts.h"
#include "output/TiffBandEncoder.h"
#include "output/WebpEncoder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QCoreApplication>
#include <QFileInfo>
#include <QImageWriter>

#include <algorithm>

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
        return metadata ? metadata->combineData(data, FileFormat::Jpeg, size) : data;
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
        data = options.metadata->combineData(data, FileFormat::Tiff, image.size());
    if (profileByExiv2)
        data = ImageMetadata::attachIccProfile(data, profile);
    return data;
}

// WebP and AVIF: the picture is prepared once and each quality of the file-size search
// encodes it with the metadata blocks.
QByteArray encodeWebOrAvif(QSize size, const JpegEncoder::BandSource& bands,
                           const QByteArray& profile, const Options& options, QString* error)
{
    const bool avif = options.format == FileFormat::Avif;
    const QString name = avif ? QStringLiteral("AVIF") : QStringLiteral("WebP");
    ImageMetadata::Blocks blocks;
    if (options.metadata)
        blocks = options.metadata->blocksForFile(size);
    blocks.icc = profile;
    const int limitKB = std::max(options.limitKB, 0);
    QString why;
    QByteArray result;
    if (avif) {
        const AvifEncoder::AvifPicturePtr picture = AvifEncoder::prepare(size, bands, &why);
        if (picture)
            result = searchQuality(
                options.quality, limitKB,
                [&](int quality) { return AvifEncoder::encode(*picture, quality, blocks, &why); },
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

QByteArray encode(const QImage& image, const Options& options, QString* error)
{
    if (image.isNull()) {
        setError(error,
                 QCoreApplication::translate("ImageWriter", "There is no picture to write."));
        return {};
    }
    try {
        switch (options.format) {
        case FileFormat::Png:
            return encodeWithQt(image, options, "png", error);
        case FileFormat::Tiff:
            return encodeWithQt(image, options, "tiff", error);
        case FileFormat::WebP:
        case FileFormat::Avif:
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
    const FileFormat format = options.format;
    if (format == FileFormat::Jpeg) {
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
    if (format == FileFormat::WebP || format == FileFormat::Avif) {
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
        QByteArray data = format == FileFormat::Png
                              ? PngBandEncoder::encode(size, bands, space, alpha, &why)
                              : TiffBandEncoder::encode(size, bands, space, alpha, &why);
        if (data.isEmpty()) {
            setError(error, why);
            return {};
        }
        if (format == FileFormat::Tiff && options.metadata)
            data = options.metadata->combineData(data, FileFormat::Tiff, size);
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
    const FileFormat format = options.format;
    QColorSpace space;
    if (!options.iccProfile.isEmpty())
        space = QColorSpace::fromIccProfile(options.iccProfile);
    // Metadata, and a profile Qt cannot parse, go in through Exiv2, which needs the whole
    // file; a JPEG is small enough to be finished in memory.
    const bool streamed =
        (format == FileFormat::Png || (format == FileFormat::Tiff && !options.metadata)) &&
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
            reason = format == FileFormat::Png ? writePng(file) : writeTiff(file);
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
