#include "output/ImageReader.h"

#include "foundation/InputGuard.h"
#include "foundation/Logging.h"
#include "foundation/NativeFile.h"
#include "output/HeifCodec.h"
#include "output/ImageMetadata.h"
#include "output/JxlCodec.h"

#include <QByteArrayView>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageIOHandler>
#include <QImageReader>

#include <mutex>

namespace ImageReader {

namespace {

// 16-bit RGBA (what Qt makes of 16-bit PNG and TIFF) takes 8 bytes a pixel.
constexpr int AllocationLimitMB = int(MaxPixels * 8 / (1024 * 1024)) + 1;

QImageIOHandler::Transformations transformationForOrientation(int orientation)
{
    switch (orientation) {
    case 2:
        return QImageIOHandler::TransformationMirror;
    case 3:
        return QImageIOHandler::TransformationRotate180;
    case 4:
        return QImageIOHandler::TransformationFlip;
    case 5:
        return QImageIOHandler::TransformationFlipAndRotate90;
    case 6:
        return QImageIOHandler::TransformationRotate90;
    case 7:
        return QImageIOHandler::TransformationMirrorAndRotate90;
    case 8:
        return QImageIOHandler::TransformationRotate270;
    default:
        return QImageIOHandler::TransformationNone;
    }
}

QImage applyTransformation(const QImage& image, QImageIOHandler::Transformations t)
{
    QImage out = image;
    if (t & QImageIOHandler::TransformationMirror)
        out = out.mirrored(true, false);
    if (t & QImageIOHandler::TransformationFlip)
        out = out.mirrored(false, true);
    if (t & QImageIOHandler::TransformationRotate90)
        out = out.transformed(QTransform().rotate(90));
    return out;
}

void setError(QString* error, const QString& message)
{
    qCWarning(lcVelluma, "%s", qUtf8Printable(message));
    if (error)
        *error = message;
}

QString tooLarge(const QString& name, QSize size, qint64 maxPixels)
{
    return QCoreApplication::translate("ImageReader",
                                       "\"%1\" is %2 x %3 pixels; Velluma opens images of up to %4 "
                                       "megapixels.")
        .arg(name, QString::number(size.width()), QString::number(size.height()),
             QString::number(maxPixels / 1'000'000));
}

// A JPEG cut off (a copy or download that stopped) still decodes: libjpeg fills the
// missing rows with gray and only warns, which Qt's reader does not pass on. Its end
// marker is missing then: no FF D9 follows the start of the first scan. The segments
// before the scan are stepped over, as an EXIF thumbnail there has an end marker of its own.
bool jpegEndsEarly(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    const uchar* data = size > 4 ? file.map(0, size) : nullptr;
    if (!data)
        return false;
    qint64 pos = 2; // after the start marker
    while (pos + 4 <= size && data[pos] == 0xFF) {
        const uchar marker = data[pos + 1];
        if (marker == 0xDA)
            break;
        if (marker == 0xFF || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            pos += marker == 0xFF ? 1 : 2; // fill byte or a marker without length
        else
            pos += 2 + ((qint64(data[pos + 2]) << 8) | data[pos + 3]);
    }
    if (pos + 4 > size || data[pos] != 0xFF)
        return pos + 4 > size; // cut off before the scan, or a layout left to the decoder
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), size);
    return bytes.lastIndexOf(QByteArrayView("\xFF\xD9", 2)) < pos;
}

} // namespace

void installAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (QImageReader::allocationLimit() < AllocationLimitMB)
            QImageReader::setAllocationLimit(AllocationLimitMB);
    });
}

QImage readImage(const QString& path, QString* error, QString* damage, qint64 maxPixels)
{
    if (damage)
        damage->clear();
    installAllocationLimit();
    const QString name = QFileInfo(NativeFile::displayPath(path)).fileName();
    if (!QFileInfo(path).isFile()) {
        setError(error, QCoreApplication::translate("ImageReader",
                                                    "\"%1\" does not exist or is not a file.")
                            .arg(name));
        return {};
    }
    // Qt's drawing plugin would take a drawing or a packed file and unpack it whole.
    QString notPicture;
    if (!InputGuard::checkPictureFile(path, &notPicture)) {
        setError(error, QCoreApplication::translate("ImageReader", "\"%1\" cannot be opened: %2.")
                            .arg(name, notPicture));
        return {};
    }
    // HEIF, AVIF and JPEG XL have no Qt plugin here; their decoders turn the picture
    // themselves and refuse a size over the limit before they allocate it.
    const bool heif = HeifCodec::isHeifFile(path);
    if (heif || JxlCodec::isJxlFile(path)) {
        QString why;
        QImage image =
            heif ? HeifCodec::read(path, maxPixels, &why) : JxlCodec::read(path, maxPixels, &why);
        if (image.isNull())
            setError(error,
                     QCoreApplication::translate("ImageReader", "\"%1\" could not be read: %2.")
                         .arg(name, why));
        return image;
    }
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    if (!reader.canRead()) {
        setError(error, QCoreApplication::translate("ImageReader",
                                                    "\"%1\" is not an image file Velluma can read.")
                            .arg(name));
        return {};
    }
    // A header can claim any size; refuse before the decoder allocates anything.
    const QSize claimed = reader.size();
    if (claimed.isValid() && qint64(claimed.width()) * claimed.height() > maxPixels) {
        setError(error, tooLarge(name, claimed, maxPixels));
        return {};
    }
    // Formats whose Qt plugin does not read the orientation (PNG, WebP) still carry it in
    // their EXIF.
    const bool pluginTurns = reader.supportsOption(QImageIOHandler::ImageTransformation);
    const bool isJpeg = reader.format() == "jpeg"; // forgotten once read
    QImage image = reader.read();
    if (image.isNull()) {
        setError(error, QCoreApplication::translate("ImageReader", "\"%1\" could not be read: %2.")
                            .arg(name, reader.errorString()));
        return {};
    }
    // The few plugins that cannot tell the size beforehand are held by Qt's allocation
    // limit alone; the answer stays the same.
    if (qint64(image.width()) * image.height() > maxPixels) {
        setError(error, tooLarge(name, image.size(), maxPixels));
        return {};
    }
    if (!pluginTurns) {
        const int orientation = ImageMetadata::metadataForFile(path).orientation();
        if (orientation != 1)
            image = applyTransformation(image, transformationForOrientation(orientation));
    }
    if (damage && isJpeg && jpegEndsEarly(path))
        *damage =
            QCoreApplication::translate("ImageReader", "\"%1\" is damaged: the data ends early.")
                .arg(name);
    // Photos are handled at their pixel size; the stored resolution plays no part.
    return image;
}

bool canRead(const QString& path)
{
    if (!InputGuard::checkPictureFile(path))
        return false;
    if (HeifCodec::isHeifFile(path) || JxlCodec::isJxlFile(path))
        return true;
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return reader.canRead();
}

QStringList nameFilters()
{
    QStringList filters;
    for (const QByteArray& suffix : QImageReader::supportedImageFormats()) {
        // Drawings are no photos; readImage refuses them.
        if (suffix.startsWith("svg"))
            continue;
        const QString s = QString::fromLatin1(suffix).toLower();
        filters << QStringLiteral("*.") + s << QStringLiteral("*.") + s.toUpper();
    }
    for (const char* suffix : {"heic", "heif", "hif", "avif", "jxl"})
        filters << QStringLiteral("*.") + QLatin1String(suffix)
                << QStringLiteral("*.") + QLatin1String(suffix).toString().toUpper();
    filters.removeDuplicates();
    return filters;
}

} // namespace ImageReader
