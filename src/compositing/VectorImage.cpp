#include "compositing/VectorImage.h"

#include "foundation/InputGuard.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>
#include <QXmlStreamReader>

#include <atomic>
#include <cmath>

namespace {

std::atomic<quint64> nextSerial{1};

// A frame is a still picture: an animated drawing would start a timer in whichever thread
// parsed it, and frames are drawn from several.
std::unique_ptr<QSvgRenderer> makeRenderer(const QByteArray& data)
{
    auto renderer = std::make_unique<QSvgRenderer>(data);
    renderer->setFramesPerSecond(0);
    return renderer;
}

bool fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
}

} // namespace

VectorImage::VectorImage(QByteArray data, QRectF viewBox, bool flipped, std::shared_ptr<Pool> pool)
    : _data(std::move(data)), _viewBox(viewBox), _flipped(flipped), _serial(nextSerial++),
      _pool(std::move(pool))
{
}

VectorImage::~VectorImage() = default;

bool VectorImage::isVectorPath(const QString& path)
{
    return path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive);
}

namespace {

// Elements that need fonts. Without a QGuiApplication Qt has none and ends the program
// on the first use.
bool needsFonts(QStringView element)
{
    static const QStringList names = {
        QStringLiteral("text"),     QStringLiteral("tspan"),        QStringLiteral("textPath"),
        QStringLiteral("textArea"), QStringLiteral("tref"),         QStringLiteral("altGlyph"),
        QStringLiteral("font"),     QStringLiteral("font-face"),    QStringLiteral("font-face-uri"),
        QStringLiteral("glyph"),    QStringLiteral("missing-glyph")};
    return names.contains(element);
}

// A picture carried in the drawing: "data:[type][;base64],payload", decoded as the SVG
// reader decodes it. Empty when it is not such a link.
QByteArray dataPayload(QStringView link)
{
    const qsizetype comma = link.indexOf(u',');
    if (comma < 0)
        return {};
    const QByteArray payload = QByteArray::fromPercentEncoding(link.sliced(comma + 1).toLatin1());
    return link.first(comma).endsWith(QLatin1String(";base64"), Qt::CaseInsensitive)
               ? QByteArray::fromBase64(payload)
               : payload;
}

// Why the drawing cannot be drawn safely, or nothing. A picture not carried in it: the SVG
// reader would open any file the link names, so a frame from the web could put the user's
// own pictures into what they share. A carried picture that is itself a drawing could do the
// same from inside, so only plain raster pictures are carried, and of a bounded size: every
// parser of the drawing decodes them.
QString refusal(const QByteArray& data)
{
    auto tr = [](const char* text) { return QCoreApplication::translate("VectorImage", text); };
    const bool fonts = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    qint64 pixels = 0;
    QXmlStreamReader xml(data);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (!fonts && needsFonts(xml.name()))
            return tr("the drawing holds text, which cannot be drawn here without fonts");
        if (xml.name() != QLatin1String("image"))
            continue;
        for (const QXmlStreamAttribute& attribute : xml.attributes()) {
            if (attribute.name() != QLatin1String("href"))
                continue;
            const QStringView link = attribute.value().trimmed();
            if (link.startsWith(u'#'))
                continue;
            if (!link.startsWith(QLatin1String("data:"), Qt::CaseInsensitive))
                return tr("the drawing shows pictures from other files");
            QByteArray picture = dataPayload(link);
            if (!InputGuard::isPlainRaster(picture))
                return tr("the drawing carries a picture that is not a plain PNG, JPEG, GIF, "
                          "WebP or BMP image");
            QBuffer buffer(&picture);
            QImageReader reader(&buffer);
            const QSize size = reader.size();
            pixels += size.isValid() ? qint64(size.width()) * size.height()
                                     : VectorImage::MaxPicturePixels;
            if (pixels > VectorImage::MaxPicturePixels)
                return tr("the pictures the drawing carries have more than %1 megapixels")
                    .arg(VectorImage::MaxPicturePixels / 1'000'000);
        }
    }
    return {};
}

} // namespace

std::shared_ptr<const VectorImage> VectorImage::fromData(const QByteArray& data, QString* error)
{
    auto tr = [](const char* text) { return QCoreApplication::translate("VectorImage", text); };
    if (data.isEmpty()) {
        fail(error, tr("the drawing is empty"));
        return nullptr;
    }
    if (data.size() > MaxFileBytes) {
        fail(error, tr("the drawing is larger than %1 MB").arg(MaxFileBytes >> 20));
        return nullptr;
    }
    // Packed drawings could unpack to any size before a single check.
    if (data.startsWith("\x1f\x8b")) {
        fail(error, tr("packed (svgz) drawings are not read"));
        return nullptr;
    }
    QString why;
    if (!InputGuard::checkMarkup(data, &why)) {
        fail(error, why);
        return nullptr;
    }
    why = refusal(data);
    if (!why.isEmpty()) {
        fail(error, why);
        return nullptr;
    }
    auto renderer = makeRenderer(data);
    if (!renderer->isValid()) {
        fail(error, tr("not a readable SVG drawing"));
        return nullptr;
    }
    const QRectF box = renderer->viewBoxF();
    const double w = box.width();
    const double h = box.height();
    if (!std::isfinite(w) || !std::isfinite(h) || !std::isfinite(box.x()) ||
        !std::isfinite(box.y()) || w < MinSide || h < MinSide || w > MaxSide || h > MaxSide ||
        w / h > MaxAspect || h / w > MaxAspect) {
        fail(error, tr("the drawing's size %1 x %2 is not usable").arg(w).arg(h));
        return nullptr;
    }
    auto pool = std::make_shared<Pool>();
    pool->idle.push_back(std::move(renderer));
    return std::shared_ptr<const VectorImage>(new VectorImage(data, box, false, std::move(pool)));
}

std::shared_ptr<const VectorImage> VectorImage::fromFile(const QString& path, QString* error)
{
    const QFileInfo info(path);
    // Devices and pipes could block for ever; a huge file is no frame.
    if (!info.isFile()) {
        fail(error, QCoreApplication::translate("VectorImage", "not a regular file"));
        return nullptr;
    }
    if (info.size() > MaxFileBytes) {
        fail(error, QCoreApplication::translate("VectorImage", "the drawing is larger than %1 MB")
                        .arg(MaxFileBytes >> 20));
        return nullptr;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, file.errorString());
        return nullptr;
    }
    return fromData(file.read(MaxFileBytes + 1), error);
}

std::shared_ptr<const VectorImage> VectorImage::flipped() const
{
    return std::shared_ptr<const VectorImage>(new VectorImage(_data, _viewBox, !_flipped, _pool));
}

std::unique_ptr<QSvgRenderer> VectorImage::borrow() const
{
    {
        QMutexLocker lock(&_pool->mutex);
        if (!_pool->idle.empty()) {
            std::unique_ptr<QSvgRenderer> renderer = std::move(_pool->idle.back());
            _pool->idle.pop_back();
            return renderer;
        }
    }
    return makeRenderer(_data);
}

void VectorImage::giveBack(std::unique_ptr<QSvgRenderer> renderer) const
{
    QMutexLocker lock(&_pool->mutex);
    // A few are enough for the threads of one render.
    if (_pool->idle.size() < 8)
        _pool->idle.push_back(std::move(renderer));
}

void VectorImage::render(QPainter* painter, const QTransform& toDevice) const
{
    const double w = _viewBox.width();
    const double h = _viewBox.height();
    QTransform mirror;
    if (_flipped)
        mirror = QTransform(-1, 0, 0, 1, w, 0);
    std::unique_ptr<QSvgRenderer> renderer = borrow();
    painter->save();
    painter->setWorldTransform(mirror * toDevice, true);
    renderer->render(painter, QRectF(0, 0, w, h));
    painter->restore();
    giveBack(std::move(renderer));
}
