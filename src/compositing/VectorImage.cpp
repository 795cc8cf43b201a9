#include "compositing/VectorImage.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
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

// A picture inside the drawing that is not carried in it: the SVG reader would open any
// file the link names, so a frame from the web could put the user's own pictures into
// what they share.
bool linksOutside(const QByteArray& data)
{
    QXmlStreamReader xml(data);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement &&
            xml.name() == QLatin1String("image")) {
            for (const QXmlStreamAttribute& attribute : xml.attributes()) {
                if (attribute.name() != QLatin1String("href"))
                    continue;
                const QStringView link = attribute.value().trimmed();
                if (!link.startsWith(QLatin1String("data:")) && !link.startsWith(u'#'))
                    return true;
            }
        }
    }
    return false;
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
    if (linksOutside(data)) {
        fail(error, tr("the drawing shows pictures from other files"));
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
