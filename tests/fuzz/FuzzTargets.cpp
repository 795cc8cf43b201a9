#include "FuzzTargets.h"

#include "compositing/BorderCompositor.h"
#include "compositing/FramedPhoto.h"
#include "compositing/ImageProcessor.h"
#include "compositing/VectorImage.h"
#include "foundation/Appcast.h"
#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"
#include "frames/FrameLibrary.h"
#include "output/FileFormat.h"
#include "output/ImageMetadata.h"
#include "output/ImageReader.h"
#include "output/ImageWriter.h"
#include "output/OutputSettings.h"
#include "targets/Destination.h"
#include "targets/DestinationList.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The harnesses run thousands of times a second; one scratch folder serves them all.
const QString& scratch()
{
    static QTemporaryDir dir;
    static const QString path = dir.path();
    return path;
}

void writeFile(const QString& path, const uint8_t* data, size_t size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "fuzz: cannot write %s\n", qPrintable(path));
        std::abort();
    }
    file.write(reinterpret_cast<const char*>(data), qint64(size));
}

[[noreturn]] void brokenPromise(const char* what)
{
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

// Reads the input front to back; zeros once it runs out, so every input means something.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : _data(data), _size(size) {}
    uint8_t next() { return _pos < _size ? _data[_pos++] : 0; }
    int inRange(int low, int high) { return low + next() % (high - low + 1); }
    bool flag() { return next() & 1; }

private:
    const uint8_t* _data;
    size_t _size;
    size_t _pos = 0;
};

const QImage::Format imageFormats[] = {
    QImage::Format_Grayscale8,
    QImage::Format_RGB888,
    QImage::Format_RGB32,
    QImage::Format_ARGB32,
    QImage::Format_ARGB32_Premultiplied,
    QImage::Format_Indexed8,
    QImage::Format_Alpha8,
    QImage::Format_RGBA64,
    QImage::Format_Mono,
};

QImage smallImage(Bytes& in, int maxSide)
{
    const QSize size(in.inRange(1, maxSide), in.inRange(1, maxSide));
    const QImage::Format format = imageFormats[in.next() % std::size(imageFormats)];
    // Premultiplied pixels whose colour exceeds their alpha come from no decoder; such
    // images are made from straight ones as the program makes them.
    const bool premultiplied = format == QImage::Format_ARGB32_Premultiplied;
    QImage image(size, premultiplied ? QImage::Format_ARGB32 : format);
    if (format == QImage::Format_Indexed8 || format == QImage::Format_Mono) {
        QList<QRgb> table;
        const int colors = format == QImage::Format_Mono ? 2 : in.inRange(1, 256);
        for (int i = 0; i < colors; ++i) {
            const int v = in.next();
            table.append(in.flag() ? qRgb(v, v, v) : qRgba(v, in.next(), in.next(), in.next()));
        }
        image.setColorTable(table);
        // Indexes beyond the table are what a broken file would hold.
    }
    for (int y = 0; y < image.height(); ++y) {
        uchar* line = image.scanLine(y);
        for (qsizetype x = 0; x < image.bytesPerLine(); ++x)
            line[x] = in.next();
    }
    return premultiplied ? image.convertToFormat(format) : image;
}

void readBack(const QByteArray& data, const char* what)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (reader.read().isNull())
        brokenPromise(what);
}

QByteArray encoded(const char* format)
{
    QImage image(5, 3, QImage::Format_RGB32);
    image.fill(qRgb(200, 120, 40));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image))
        brokenPromise("cannot encode the sample image");
    return data;
}

} // namespace

namespace FuzzTargets {

QStringList names()
{
    return {QStringLiteral("photo"),        QStringLiteral("compositing"),
            QStringLiteral("propertylist"), QStringLiteral("destinations"),
            QStringLiteral("appcast"),      QStringLiteral("drawing"),
            QStringLiteral("phonephoto")};
}

bool run(const QString& name, const uint8_t* data, size_t size)
{
    static const QHash<QString, void (*)(const uint8_t*, size_t)> harnesses{
        {QStringLiteral("photo"), photo},
        {QStringLiteral("compositing"), compositing},
        {QStringLiteral("propertylist"), propertyList},
        {QStringLiteral("destinations"), destinationList},
        {QStringLiteral("appcast"), appcast},
        {QStringLiteral("drawing"), drawing},
        {QStringLiteral("phonephoto"), phonePhoto}};
    const auto harness = harnesses.value(name);
    if (harness)
        harness(data, size);
    return harness != nullptr;
}

void photo(const uint8_t* data, size_t size)
{
    const QString path = scratch() + QStringLiteral("/photo");
    writeFile(path, data, size);
    QString error;
    QString damage;
    const QImage image = ImageReader::readImage(path, &error, &damage);
    if (image.isNull() && error.isEmpty())
        brokenPromise("a photo refused without a message");

    const ImageMetadata metadata = ImageMetadata::metadataForData(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    metadata.orientation();
    metadata.value(QStringLiteral("Exif.Image.Model"));
    metadata.iccProfile();
    if (metadata.isEmpty())
        return;
    // Kept metadata goes into every JPEG and TIFF written; what comes out must still open.
    static const QByteArray jpeg = encoded("jpeg");
    static const QByteArray tiff = encoded("tiff");
    readBack(metadata.combineData(jpeg, FileFormat::Jpeg, QSize(5, 3)),
             "a JPEG with the photo's metadata does not read back");
    readBack(metadata.combineData(tiff, FileFormat::Tiff, QSize(5, 3)),
             "a TIFF with the photo's metadata does not read back");
}

void phonePhoto(const uint8_t* data, size_t size)
{
    const QString path = scratch() + QStringLiteral("/phone");
    writeFile(path, data, size);
    QString error;
    const QImage image = ImageReader::readImage(path, &error);
    if (image.isNull() && error.isEmpty())
        brokenPromise("a photo refused without a message");
    const ImageMetadata metadata = ImageMetadata::metadataForFile(path);
    if (image.isNull() || qint64(image.width()) * image.height() > 4096)
        return;
    ImageWriter::Options webp;
    webp.format = FileFormat::WebP;
    webp.metadata = &metadata;
    readBack(ImageWriter::encode(image, webp),
             "a WebP with the photo's metadata does not read back");
}

void compositing(const uint8_t* data, size_t size)
{
    Bytes in(data, size);
    FramedPhoto framed;
    framed.autoRotate = in.flag();
    if (in.flag())
        framed.color.reset();
    else
        framed.color = QColor(in.next(), in.next(), in.next(), in.next());
    // Whole and half pixels, and places far off the canvas, as a drag can leave them.
    framed.offset = QPointF((int8_t(in.next()) * 256 + in.next()) / 2.0,
                            (int8_t(in.next()) * 256 + in.next()) / 2.0);
    const bool hasPostMask = in.flag();
    framed.photo = smallImage(in, 24);
    framed.frame = smallImage(in, 24);
    if (hasPostMask)
        framed.postMask = smallImage(in, 24);

    const QImage& mask = framed.frame;
    const std::optional<QColor> color = framed.color;
    ImageProcessor::overlayFromGrayscaleRep(mask, color);
    ImageProcessor::rotatedOverlayFromGrayscaleRep(mask, color);
    ImageProcessor::overlayFromRGBRep(mask, color);
    ImageProcessor::rotatedOverlayFromRGBRep(mask, color);
    ImageProcessor::isInverseImage(mask);
    ImageProcessor::cornerBrightness(mask, in.inRange(-2, 26), in.inRange(-2, 26),
                                     in.inRange(0, 26), in.inRange(0, 26));
    ImageProcessor::brightnessAt(mask, in.inRange(-2, 26), in.inRange(-2, 26));
    ImageProcessor::rotateCW(mask);
    ImageProcessor::rotateCCW(mask);
    ImageProcessor::flipImageHorizontal(mask);

    const QImage whole = BorderCompositor::compositeFullResolution(framed, in.inRange(0, 3));
    if (whole.size() != framed.photo.size())
        brokenPromise("the composite is not the photo's size");

    // The band-by-band export must give the same pixels as the whole composite.
    const QImage rows = framed.photo.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const BorderCompositor::FullResolutionLayers layers =
        BorderCompositor::fullResolutionLayers(framed, framed.photo.size());
    const int bandHeight = in.inRange(1, 8);
    const QImage expected = whole.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage band;
    for (int first = 0; first < whole.height(); first += bandHeight) {
        const int end = std::min(whole.height(), first + bandHeight);
        if (!BorderCompositor::compositeBand(layers, rows, 0, first, end, &band))
            brokenPromise("a band could not be composited");
        for (int y = first; y < end; ++y) {
            for (int x = 0; x < whole.width(); ++x) {
                if (band.pixel(x, y - first) == expected.pixel(x, y))
                    continue;
                std::fprintf(stderr,
                             "fuzz: (%d, %d) whole %08x band %08x; photo format %d, frame %d, "
                             "post mask %d, colour %s, offset (%g, %g)\n",
                             x, y, expected.pixel(x, y), band.pixel(x, y - first),
                             int(framed.photo.format()), int(framed.frame.format()),
                             int(framed.postMask.format()),
                             framed.color ? qPrintable(framed.color->name(QColor::HexArgb))
                                          : "none",
                             framed.offset.x(), framed.offset.y());
                brokenPromise("a band differs from the whole composite");
            }
        }
    }

    BorderCompositor::OverlayCache cache;
    const QImage reduced =
        ImageProcessor::scaleImageToFit(framed.photo, QSize(in.inRange(1, 24), in.inRange(1, 24)));
    const QPointF offset =
        BorderCompositor::scaledOffset(framed.offset, framed.photo.width(), reduced.width());
    BorderCompositor::compositePreview(framed, reduced, offset, cache);
    BorderCompositor::compositePreview(framed, reduced, offset + QPointF(1, -1), cache);
}

void propertyList(const uint8_t* data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const QVariant value = PropertyList::fromData(bytes);
    if (value.isValid()) {
        for (const bool binary : {false, true}) {
            const QByteArray written = PropertyList::toData(value, binary);
            if (!written.isEmpty() && !PropertyList::fromData(written).isValid())
                brokenPromise("a property list written back does not read");
        }
    }

    const QString folder = scratch() + QStringLiteral("/plist");
    QDir().mkpath(folder);
    const QString collections = folder + QLatin1Char('/') + FrameLibrary::CollectionsPlistName;
    writeFile(collections, data, size);
    FrameLibrary::collectionNamesForFolder(folder);
    const QVariantMap factory = OutputSettings::factoryDefaults(collections);

    // Settings that are no dictionary are only set aside, which the settings tests cover;
    // the rest is read through the program's own accessors.
    if (value.typeId() != QMetaType::QVariantMap)
        return;
    const QString settings = scratch() + QStringLiteral("/settings/Velluma.plist");
    QDir(scratch() + QStringLiteral("/settings")).removeRecursively();
    QDir().mkpath(scratch() + QStringLiteral("/settings"));
    writeFile(settings, data, size);
    UserDefaults defaults(settings);
    defaults.registerDefaults(factory);
    OutputSettings output(defaults);
    output.fileFormat();
    output.jpegQuality();
    output.filesizeLimit();
    output.lossyFormat();
    output.metadataSupported();
    const QVariantMap stored = value.toMap();
    for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
        defaults.integerForKey(it.key());
        defaults.doubleForKey(it.key());
        defaults.stringForKey(it.key());
        defaults.arrayForKey(it.key());
        defaults.dictionaryForKey(it.key());
    }
}

void destinationList(const uint8_t* data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const QVariant value = PropertyList::fromData(bytes);
    const QVariantList records = DestinationList::recordsFromValue(value);
    if (value.typeId() == QMetaType::QVariantList && records.size() != value.toList().size())
        brokenPromise("destination records lost or invented: the positions shift");
    for (const QVariant& record : records) {
        const QVariantMap map = record.toMap();
        if (Destination::isAvailable(map) && record.typeId() != QMetaType::QVariantMap)
            brokenPromise("a destination that is no dictionary counted as available");
        Destination::labelForDestination(map);
        Destination::nameForType(Destination::targetType(map));
        Destination::expandedPath(map.value(Destination::KEY_DESTINATION).toString());
    }

    // The same bytes as the settings file, holding both keys, as the program reads it.
    const QString folder = scratch() + QStringLiteral("/destinations");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QString settings = folder + QStringLiteral("/Velluma.plist");
    writeFile(settings, data, size);
    UserDefaults defaults(settings);
    DestinationList list;
    list.load(defaults);
    DestinationList::destinationAtIndex(defaults, DestinationList::storedDefault(defaults));

    // Edits driven by the input's last bytes; none may lose or invent a record.
    Bytes in(data + size - std::min<size_t>(size, 8), std::min<size_t>(size, 8));
    const int count = list.count();
    const int from = in.inRange(-1, count + 1);
    const int to = in.inRange(-1, count + 1);
    list.moveTarget(from, to);
    if (list.count() != count)
        brokenPromise("a move changed the number of destinations");
    list.removeAt(in.inRange(-1, count));
    list.insert(Destination::configWithDestination(QStringLiteral("/"), QStringLiteral("Root"), 0),
                in.inRange(-5, count + 5));
    list.store(defaults);
    if (DestinationList::storedRecords(defaults).size() != list.count())
        brokenPromise("the stored destinations do not read back");
}

void appcast(const uint8_t* data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QList<Appcast::Item> items;
    QString error;
    if (!Appcast::parse(bytes, &items, &error)) {
        if (error.isEmpty())
            brokenPromise("a feed refused without a message");
        return;
    }
    QStringList versions = {QStringLiteral("0.1.0"), QStringLiteral("1.0b2")};
    for (const Appcast::Item& item : items) {
        if (item.version.isEmpty() || !item.downloadUrl.isValid())
            brokenPromise("a feed item without a version or a download");
        const QString scheme = item.downloadUrl.scheme().toLower();
        if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
            brokenPromise("a feed item downloads from elsewhere than the web");
        versions << item.version << item.shortVersion;
    }
    // Versions straight from the bytes too, beyond what well-formed XML lets through.
    versions << QString::fromLatin1(bytes.left(64)) << QString::fromUtf8(bytes.mid(64, 64));
    for (const QString& a : versions) {
        for (const QString& b : versions) {
            if (Appcast::compareVersions(a, b) != -Appcast::compareVersions(b, a))
                brokenPromise("two versions compare differently either way round");
        }
    }
    const std::optional<Appcast::Item> newer = Appcast::newerItem(items, versions.constFirst());
    if (newer && Appcast::compareVersions(newer->version, versions.constFirst()) <= 0)
        brokenPromise("an update that is not newer");
}

void drawing(const uint8_t* data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const auto drawn = VectorImage::fromData(bytes, &error);
    if (!drawn) {
        if (error.isEmpty())
            brokenPromise("a drawing refused without a message");
        return;
    }
    FramedPhoto framed;
    framed.frameDrawing = drawn;
    BorderCompositor::canvasLayers(framed, QSize(24, 16), std::nullopt, false).overlay.rendered();
}

} // namespace FuzzTargets
