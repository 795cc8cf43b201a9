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
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void brokenPromise(const char* what)
{
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

// The input as the file `name` alone in the scratch folder `folder`; its path. The
// harnesses run thousands of times a second: one temporary folder serves them all.
QString scratchFile(const QString& folder, const QString& name, const uint8_t* data, size_t size)
{
    static QTemporaryDir scratch;
    const QString path = scratch.path() + '/' + folder;
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    QFile file(path + '/' + name);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        brokenPromise("cannot write the scratch file");
    return file.fileName();
}

QByteArray raw(const uint8_t* data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
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

const QImage::Format imageFormats[] = {QImage::Format_Grayscale8,
                                       QImage::Format_RGB888,
                                       QImage::Format_RGB32,
                                       QImage::Format_ARGB32,
                                       QImage::Format_ARGB32_Premultiplied,
                                       QImage::Format_Indexed8,
                                       QImage::Format_Alpha8,
                                       QImage::Format_RGBA64,
                                       QImage::Format_Mono};

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
    if (QImage::fromData(data).isNull())
        brokenPromise(what);
}

QByteArray encoded(const char* format)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImage image(5, 3, QImage::Format_RGB32);
    image.fill(qRgb(200, 120, 40));
    if (!image.save(&buffer, format))
        brokenPromise("cannot encode the sample image");
    return data;
}

// A photo file read, and its metadata put into a freshly encoded JPEG and TIFF, which
// must read back.
void photo(const uint8_t* data, size_t size)
{
    QString error, damage;
    const QImage image =
        ImageReader::readImage(scratchFile("photo", "photo", data, size), &error, &damage);
    if (image.isNull() && error.isEmpty())
        brokenPromise("a photo refused without a message");
    const ImageMetadata metadata = ImageMetadata::metadataForData(raw(data, size));
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

// A photo file as HEIC, AVIF or JPEG XL is read; a picture that decodes is written as
// WebP with its metadata, which must read back.
void phonePhoto(const uint8_t* data, size_t size)
{
    const QString path = scratchFile("phone", "phone", data, size);
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

// Parameters and pixels of a small photo, frame and post mask through the full-resolution
// composite, which its bands must give again.
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

    // Places outside the mask, as a drag far off the canvas asks for.
    ImageProcessor::cornerBrightness(framed.frame, in.inRange(-2, 26), in.inRange(-2, 26),
                                     in.inRange(0, 26), in.inRange(0, 26));
    ImageProcessor::brightnessAt(framed.frame, in.inRange(-2, 26), in.inRange(-2, 26));

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
        for (int y = first; y < end; ++y)
            for (int x = 0; x < whole.width(); ++x)
                if (band.pixel(x, y - first) != expected.pixel(x, y))
                    brokenPromise("a band differs from the whole composite");
    }
}

// A property list written back, and read as a user "collections.plist" and as factory
// defaults.
void propertyList(const uint8_t* data, size_t size)
{
    const QVariant value = PropertyList::fromData(raw(data, size));
    if (value.isValid()) {
        for (const bool binary : {false, true}) {
            const QByteArray written = PropertyList::toData(value, binary);
            if (!written.isEmpty() && !PropertyList::fromData(written).isValid())
                brokenPromise("a property list written back does not read");
        }
    }

    const QString collections =
        scratchFile("plist", FrameLibrary::CollectionsPlistName, data, size);
    FrameLibrary::collectionNamesForFolder(QFileInfo(collections).path());
    OutputSettings::factoryDefaults(collections);
}

// A property list as the stored destinations and as a whole settings file: no record may
// be lost or invented.
void destinationList(const uint8_t* data, size_t size)
{
    const QVariant value = PropertyList::fromData(raw(data, size));
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
    UserDefaults defaults(scratchFile("destinations", "Velluma.plist", data, size));
    DestinationList list;
    list.load(defaults);
    DestinationList::destinationAtIndex(defaults, DestinationList::storedDefault(defaults));
}

// An update feed: its items must be web downloads whose versions compare the same either
// way round.
void appcast(const uint8_t* data, size_t size)
{
    QList<Appcast::Item> items;
    QString error;
    if (!Appcast::parse(raw(data, size), &items, &error)) {
        if (error.isEmpty())
            brokenPromise("a feed refused without a message");
        return;
    }
    for (const Appcast::Item& item : items) {
        if (item.version.isEmpty() || !item.downloadUrl.isValid())
            brokenPromise("a feed item without a version or a download");
        const QString scheme = item.downloadUrl.scheme().toLower();
        if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
            brokenPromise("a feed item downloads from elsewhere than the web");
        if (Appcast::compareVersions(item.version, item.shortVersion) !=
            -Appcast::compareVersions(item.shortVersion, item.version))
            brokenPromise("two versions compare differently either way round");
    }
}

// A drawing frame, which must say why it refuses, laid on a small canvas.
void drawing(const uint8_t* data, size_t size)
{
    QString error;
    const auto drawn = VectorImage::fromData(raw(data, size), &error);
    if (!drawn) {
        if (error.isEmpty())
            brokenPromise("a drawing refused without a message");
        return;
    }
    FramedPhoto framed;
    framed.frameDrawing = drawn;
    BorderCompositor::canvasLayers(framed, QSize(24, 16), std::nullopt, false).overlay.rendered();
}

using Harness = void (*)(const uint8_t*, size_t);
const QMap<QString, Harness>& harnesses()
{
    static const QMap<QString, Harness> byName{{"photo", photo},
                                               {"compositing", compositing},
                                               {"propertylist", propertyList},
                                               {"destinations", destinationList},
                                               {"appcast", appcast},
                                               {"drawing", drawing},
                                               {"phonephoto", phonePhoto}};
    return byName;
}

} // namespace

QStringList FuzzTargets::names()
{
    return harnesses().keys();
}

bool FuzzTargets::run(const QString& name, const uint8_t* data, size_t size)
{
    const Harness harness = harnesses().value(name);
    if (harness)
        harness(data, size);
    return harness != nullptr;
}
