#include "output/ImageMetadata.h"

#include "foundation/Logging.h"
#include "output/FileFormat.h"
#include "output/HeifCodec.h"
#include "output/JxlCodec.h"

#include <QFile>
#include <QFileInfo>

#include <exiv2/exiv2.hpp>

#include <mutex>

namespace {

std::mutex xmpMutex;
// Exiv2 is not safe to use from several threads at once (the batch framer frames two photos
// at a time, and the window reads a photo's metadata on its worker); its calls are short
// beside the encoding around them, so they take turns.
std::mutex exiv2Mutex;

void lockXmp(void*, bool lock)
{
    if (lock)
        xmpMutex.lock();
    else
        xmpMutex.unlock();
}

// Exiv2 writes its warnings to stderr, and its XMP toolkit needs a lock once several
// photos are handled at the same time (the batch framer).
void setUpExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(lockXmp, nullptr);
    });
}

// Before main, so that the lock is in place whichever code reaches Exiv2 first: the XMP
// toolkit keeps the first set-up it gets.
[[maybe_unused]] const bool exiv2Ready = (setUpExiv2(), true);

// Tags that describe how the source file stored its pixels, or that carry other metadata
// blocks, rather than facts about the photo. Copied into another file they would lie
// about it or conflict with what Exiv2 writes itself.
const char* const StructureTags[] = {
    "Exif.Image.NewSubfileType",
    "Exif.Image.SubfileType",
    "Exif.Image.ImageWidth",
    "Exif.Image.ImageLength",
    "Exif.Image.BitsPerSample",
    "Exif.Image.Compression",
    "Exif.Image.PhotometricInterpretation",
    "Exif.Image.FillOrder",
    "Exif.Image.StripOffsets",
    "Exif.Image.SamplesPerPixel",
    "Exif.Image.RowsPerStrip",
    "Exif.Image.StripByteCounts",
    "Exif.Image.PlanarConfiguration",
    "Exif.Image.Predictor",
    "Exif.Image.TileWidth",
    "Exif.Image.TileLength",
    "Exif.Image.TileOffsets",
    "Exif.Image.TileByteCounts",
    "Exif.Image.SubIFDs",
    "Exif.Image.ExtraSamples",
    "Exif.Image.SampleFormat",
    "Exif.Image.JPEGTables",
    "Exif.Image.JPEGInterchangeFormat",
    "Exif.Image.JPEGInterchangeFormatLength",
    "Exif.Image.XMLPacket",
    "Exif.Image.IPTCNAA",
    "Exif.Image.ImageResources",
    "Exif.Image.InterColorProfile",
};

void removeStructureTags(Exiv2::ExifData& exif)
{
    for (const char* key : StructureTags) {
        auto it = exif.findKey(Exiv2::ExifKey(key));
        while (it != exif.end()) {
            exif.erase(it);
            it = exif.findKey(Exiv2::ExifKey(key));
        }
    }
    // Other images of the source file (thumbnails, reduced copies) do not exist in ours.
    for (auto it = exif.begin(); it != exif.end();) {
        const std::string group = it->groupName();
        if (group.rfind("SubImage", 0) == 0 || group.rfind("Thumbnail", 0) == 0 ||
            group == "Image2" || group == "Image3")
            it = exif.erase(it);
        else
            ++it;
    }
    Exiv2::ExifThumb(exif).erase();
}

void setExifIfPresent(Exiv2::ExifData& exif, const char* key, const Exiv2::Value& value)
{
    auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it != exif.end())
        it->setValue(&value);
}

void setXmpIfPresent(Exiv2::XmpData& xmp, const char* key, const std::string& value)
{
    auto it = xmp.findKey(Exiv2::XmpKey(key));
    if (it != xmp.end())
        it->setValue(value);
}

// The pixels we write are upright and have the picture's size.
Exiv2::ExifData preparedExif(Exiv2::ExifData exif, QSize pixelSize)
{
    removeStructureTags(exif);
    if (exif.empty())
        return exif;
    exif["Exif.Image.Orientation"] = uint16_t(1);
    if (pixelSize.isValid()) {
        setExifIfPresent(exif, "Exif.Photo.PixelXDimension",
                         Exiv2::ULongValue(uint32_t(pixelSize.width())));
        setExifIfPresent(exif, "Exif.Photo.PixelYDimension",
                         Exiv2::ULongValue(uint32_t(pixelSize.height())));
        if (exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension")) == exif.end() &&
            exif.findKey(Exiv2::ExifKey("Exif.Photo.ExifVersion")) != exif.end()) {
            exif["Exif.Photo.PixelXDimension"] = uint32_t(pixelSize.width());
            exif["Exif.Photo.PixelYDimension"] = uint32_t(pixelSize.height());
        }
    }
    return exif;
}

Exiv2::XmpData preparedXmp(Exiv2::XmpData xmp, QSize pixelSize)
{
    setXmpIfPresent(xmp, "Xmp.tiff.Orientation", "1");
    if (pixelSize.isValid()) {
        const std::string w = std::to_string(pixelSize.width());
        const std::string h = std::to_string(pixelSize.height());
        setXmpIfPresent(xmp, "Xmp.exif.PixelXDimension", w);
        setXmpIfPresent(xmp, "Xmp.exif.PixelYDimension", h);
        setXmpIfPresent(xmp, "Xmp.tiff.ImageWidth", w);
        setXmpIfPresent(xmp, "Xmp.tiff.ImageLength", h);
    }
    return xmp;
}

QByteArray readAll(Exiv2::BasicIo& io)
{
    io.seek(0, Exiv2::BasicIo::beg);
    const long size = long(io.size());
    QByteArray out(size, Qt::Uninitialized);
    if (size > 0 && io.read(reinterpret_cast<Exiv2::byte*>(out.data()), size) != size) {
        qCWarning(lcVelluma, "Reading back the file with its metadata: short read of %ld bytes",
                  size);
        return {};
    }
    return out;
}

} // namespace

struct ImageMetadata::Data {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
    QByteArray icc;
};

ImageMetadata::ImageMetadata() = default;
ImageMetadata::ImageMetadata(const ImageMetadata& other)
    : _d(other._d ? std::make_unique<Data>(*other._d) : nullptr)
{
}
ImageMetadata& ImageMetadata::operator=(const ImageMetadata& other)
{
    if (this != &other)
        _d = other._d ? std::make_unique<Data>(*other._d) : nullptr;
    return *this;
}
ImageMetadata::ImageMetadata(ImageMetadata&&) noexcept = default;
ImageMetadata& ImageMetadata::operator=(ImageMetadata&&) noexcept = default;
ImageMetadata::~ImageMetadata() = default;

ImageMetadata ImageMetadata::fromImage(Exiv2::Image& image)
{
    image.readMetadata();
    ImageMetadata result;
    result._d = std::make_unique<Data>();
    result._d->exif = image.exifData();
    result._d->iptc = image.iptcData();
    result._d->xmp = image.xmpData();
    if (image.iccProfileDefined()) {
        const Exiv2::DataBuf* icc = image.iccProfile();
        result._d->icc = QByteArray(reinterpret_cast<const char*>(icc->pData_), icc->size_);
    }
    if (result.isEmpty())
        return {};
    return result;
}

ImageMetadata ImageMetadata::metadataForFile(const QString& path)
{
    setUpExiv2();
    const std::lock_guard<std::mutex> oneAtATime(exiv2Mutex);
    try {
        if (!QFileInfo(path).isFile()) {
            qCWarning(lcVelluma, "Reading the metadata of a file (%s): not a file",
                      qUtf8Printable(path));
            return {};
        }
        if (HeifCodec::isHeifFile(path) || JxlCodec::isJxlFile(path)) {
            const Blocks blocks = HeifCodec::isHeifFile(path) ? HeifCodec::readMetadata(path)
                                                              : JxlCodec::readMetadata(path);
            return fromBlocksLocked(blocks);
        }
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        return image.get() ? fromImage(*image) : ImageMetadata();
    } catch (...) {
        Logging::logCaughtException("Reading the metadata of a file", path);
        return {};
    }
}

ImageMetadata ImageMetadata::metadataForData(const QByteArray& data)
{
    setUpExiv2();
    const std::lock_guard<std::mutex> oneAtATime(exiv2Mutex);
    try {
        if (data.isEmpty())
            return {};
        auto image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte*>(data.constData()), long(data.size()));
        return image.get() ? fromImage(*image) : ImageMetadata();
    } catch (...) {
        Logging::logCaughtException("Reading the metadata of a picture in memory");
        return {};
    }
}

ImageMetadata ImageMetadata::fromBlocksLocked(const Blocks& blocks)
{
    ImageMetadata result;
    result._d = std::make_unique<Data>();
    if (!blocks.exif.isEmpty()) {
        Exiv2::ExifParser::decode(result._d->exif,
                                  reinterpret_cast<const Exiv2::byte*>(blocks.exif.constData()),
                                  uint32_t(blocks.exif.size()));
        // The decoder has turned the pixels already.
        auto it = result._d->exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (it != result._d->exif.end()) {
            const Exiv2::UShortValue upright(1);
            it->setValue(&upright);
        }
    }
    if (!blocks.xmp.isEmpty()) {
        Exiv2::XmpParser::decode(result._d->xmp, blocks.xmp.toStdString());
        setXmpIfPresent(result._d->xmp, "Xmp.tiff.Orientation", "1");
    }
    result._d->icc = blocks.icc;
    if (result.isEmpty())
        return {};
    return result;
}

ImageMetadata::Blocks ImageMetadata::blocksForFile(QSize pixelSize) const
{
    Blocks blocks;
    if (!_d)
        return blocks;
    blocks.icc = _d->icc;
    setUpExiv2();
    const std::lock_guard<std::mutex> oneAtATime(exiv2Mutex);
    try {
        const Exiv2::ExifData exif = preparedExif(_d->exif, pixelSize);
        if (!exif.empty()) {
            Exiv2::Blob blob;
            Exiv2::ExifParser::encode(blob, Exiv2::bigEndian, exif);
            blocks.exif =
                QByteArray(reinterpret_cast<const char*>(blob.data()), qsizetype(blob.size()));
        }
        if (!_d->xmp.empty()) {
            std::string packet;
            if (Exiv2::XmpParser::encode(packet, preparedXmp(_d->xmp, pixelSize)) == 0)
                blocks.xmp = QByteArray::fromStdString(packet);
        }
    } catch (...) {
        Logging::logCaughtException("Preparing the metadata blocks; the file is written without");
        blocks.exif.clear();
        blocks.xmp.clear();
    }
    return blocks;
}

bool ImageMetadata::isEmpty() const
{
    return !_d || (_d->exif.empty() && _d->iptc.empty() && _d->xmp.empty() && _d->icc.isEmpty());
}

bool ImageMetadata::hasExif() const
{
    return _d && !_d->exif.empty();
}

bool ImageMetadata::hasIptc() const
{
    return _d && !_d->iptc.empty();
}

bool ImageMetadata::hasXmp() const
{
    return _d && !_d->xmp.empty();
}

QByteArray ImageMetadata::iccProfile() const
{
    return _d ? _d->icc : QByteArray();
}

QString ImageMetadata::value(const QString& key) const
{
    if (!_d)
        return {};
    const std::lock_guard<std::mutex> oneAtATime(exiv2Mutex);
    try {
        const std::string k = key.toStdString();
        if (key.startsWith(QLatin1String("Exif."))) {
            auto it = _d->exif.findKey(Exiv2::ExifKey(k));
            return it == _d->exif.end() ? QString() : QString::fromStdString(it->toString());
        }
        if (key.startsWith(QLatin1String("Iptc."))) {
            auto it = _d->iptc.findKey(Exiv2::IptcKey(k));
            return it == _d->iptc.end() ? QString() : QString::fromStdString(it->toString());
        }
        if (key.startsWith(QLatin1String("Xmp."))) {
            auto it = _d->xmp.findKey(Exiv2::XmpKey(k));
            return it == _d->xmp.end() ? QString() : QString::fromStdString(it->toString());
        }
    } catch (...) {
        Logging::logCaughtException("Reading a metadata value", key);
    }
    return {};
}

int ImageMetadata::orientation() const
{
    bool ok = false;
    const int o = value(QStringLiteral("Exif.Image.Orientation")).toInt(&ok);
    return ok && o >= 1 && o <= 8 ? o : 1;
}

QByteArray ImageMetadata::combineData(const QByteArray& encoded, FileFormat format,
                                      QSize pixelSize) const
{
    if (format == FileFormat::Png || encoded.isEmpty() || !_d ||
        (_d->exif.empty() && _d->iptc.empty() && _d->xmp.empty()))
        return encoded;
    setUpExiv2();
    const std::lock_guard<std::mutex> oneAtATime(exiv2Mutex);
    try {
        auto image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte*>(encoded.constData()), long(encoded.size()));
        if (!image.get())
            return encoded;
        const int type = image->imageType();
        if (type != Exiv2::ImageType::jpeg && type != Exiv2::ImageType::tiff)
            return encoded;
        // Reading first keeps what the encoder wrote itself: the TIFF's own structure
        // tags, the colour profile of either.
        image->readMetadata();

        const Exiv2::ExifData exif = preparedExif(_d->exif, pixelSize);
        Exiv2::ExifData& target = image->exifData();
        for (const Exiv2::Exifdatum& datum : exif) {
            // A tag without values (fuzzed or damaged EXIF) makes libtiff refuse the
            // whole file: such a tag is left out.
            if (datum.count() == 0 || datum.size() == 0)
                continue;
            target[datum.key()] = datum.value();
        }

        image->setIptcData(_d->iptc);
        image->setXmpData(preparedXmp(_d->xmp, pixelSize));
        image->writeMetadata();
        const QByteArray out = readAll(image->io());
        return out.isEmpty() ? encoded : out;
    } catch (...) {
        Logging::logCaughtException("Adding the metadata to the file; it is written without");
        return encoded;
    }
}

QByteArray ImageMetadata::attachIccProfile(const QByteArray& encoded, const QByteArray& profile)
{
    if (encoded.isEmpty() || profile.isEmpty())
        return encoded;
    setUpExiv2();
    const std::lock_guard<std::mutex> oneAtATime(exiv2Mutex);
    try {
        auto image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte*>(encoded.constData()), long(encoded.size()));
        if (!image.get())
            return encoded;
        image->readMetadata();
        Exiv2::DataBuf buf(reinterpret_cast<const Exiv2::byte*>(profile.constData()),
                           long(profile.size()));
        image->setIccProfile(buf, false);
        image->writeMetadata();
        const QByteArray out = readAll(image->io());
        return out.isEmpty() ? encoded : out;
    } catch (...) {
        Logging::logCaughtException("Adding the colour profile to the file; it is written without");
        return encoded;
    }
}
