#include "ProxyView.h"

#include "output/FileFormat.h"
#include "ui/CustomCursors.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QUrl>

#include <cmath>

namespace {

constexpr int kIconSize = 32;

QString extensionForFormat(FileFormat format)
{
    switch (format) {
    case FileFormat::Png:
        return QStringLiteral("png");
    case FileFormat::Tiff:
        return QStringLiteral("tiff");
    case FileFormat::Gif:
        return QStringLiteral("gif");
    case FileFormat::WebP:
        return QStringLiteral("webp");
    case FileFormat::Avif:
        return QStringLiteral("avif");
    default:
        return QStringLiteral("jpg");
    }
}

// A sheet with a folded corner and the extension on it, for desktops whose icon theme has
// no document icon of the type; drawn for each common screen density, so that none shows
// an enlarged one.
QPixmap drawnDocumentPixmap(const QString& extension, qreal ratio)
{
    const int side = int(std::lround(kIconSize * ratio));
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 64-unit square.
    painter.scale(side / 64.0, side / 64.0);
    const qreal fold = 16;
    const QRectF sheet(10, 2, 44, 60);
    QPainterPath outline;
    outline.moveTo(sheet.topLeft());
    outline.lineTo(sheet.right() - fold, sheet.top());
    outline.lineTo(sheet.right(), sheet.top() + fold);
    outline.lineTo(sheet.bottomRight());
    outline.lineTo(sheet.bottomLeft());
    outline.closeSubpath();
    painter.setPen(QPen(QColor(90, 90, 90), 2));
    painter.setBrush(Qt::white);
    painter.drawPath(outline);
    painter.drawLine(QPointF(sheet.right() - fold, sheet.top()),
                     QPointF(sheet.right() - fold, sheet.top() + fold));
    painter.drawLine(QPointF(sheet.right() - fold, sheet.top() + fold),
                     QPointF(sheet.right(), sheet.top() + fold));
    QFont font = painter.font();
    font.setPixelSize(13);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(40, 90, 160));
    painter.drawText(sheet.adjusted(0, 24, 0, 0), Qt::AlignHCenter | Qt::AlignTop,
                     extension.toUpper());
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QIcon drawnDocumentIcon(const QString& extension)
{
    QIcon icon;
    for (const qreal ratio : {1.0, 1.5, 2.0, 3.0})
        icon.addPixmap(drawnDocumentPixmap(extension, ratio));
    return icon;
}

} // namespace

ProxyView::ProxyView(QWidget* parent) : QWidget(parent)
{
    // The proxy gives files away; it takes none (dropping onto the picture opens one).
    setAcceptDrops(true);
    setFixedSize(sizeHint());
    _updateState();
}

QString ProxyView::iconNameForFormat(FileFormat format)
{
    const QString extension = extensionForFormat(format);
    return QStringLiteral("image-") +
           (extension == QLatin1String("jpg") ? QStringLiteral("jpeg") : extension);
}

void ProxyView::setFileFormat(FileFormat format)
{
    const QIcon themed = QIcon::fromTheme(iconNameForFormat(format));
    setImage(themed.isNull() ? drawnDocumentIcon(extensionForFormat(format)) : themed);
}

void ProxyView::setImage(const QIcon& image)
{
    _image = image;
    update();
}

void ProxyView::setEnabledToolTip(const QString& text)
{
    _toolTip = text;
    _updateState();
}

void ProxyView::_updateState()
{
    const bool enabled = isEnabled();
    setToolTip(enabled ? _toolTip : QString());
    if (!enabled)
        unsetCursor();
    else
        setCursor(_mouseDown ? CustomCursors::ztClosedHandCursor(devicePixelRatioF())
                             : CustomCursors::ztOpenHandCursor(devicePixelRatioF()));
    update();
}

void ProxyView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) {
        _mouseDown = false;
        _updateState();
    }
    QWidget::changeEvent(event);
}

void ProxyView::paintEvent(QPaintEvent*)
{
    if (!isEnabled() || _image.isNull())
        return;
    QPainter painter(this);
    const QRect target((width() - kIconSize) / 2, (height() - kIconSize) / 2, kIconSize, kIconSize);
    _image.paint(&painter, target);
}

void ProxyView::_setMouseDown(bool down)
{
    _mouseDown = down;
    _updateState();
}

void ProxyView::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    _setMouseDown(false);
    // Without a photo there is nothing to prepare, and the file of the last one goes.
    _setTmpPath(isEnabled() && _preparer ? _preparer() : QString());
}

void ProxyView::_setTmpPath(const QString& path)
{
    // A file of another name or format from an earlier entry would otherwise stay behind.
    if (!_tmpPath.isEmpty() && _tmpPath != path)
        QFile::remove(_tmpPath);
    _tmpPath = path;
}

void ProxyView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    _pressPos = event->position().toPoint();
    _setMouseDown(true);
    event->accept();
}

void ProxyView::mouseReleaseEvent(QMouseEvent* event)
{
    _setMouseDown(false);
    event->accept();
}

void ProxyView::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || !_mouseDown || _tmpPath.isEmpty() ||
        (event->position().toPoint() - _pressPos).manhattanLength() <
            QApplication::startDragDistance())
        return;
    emit dragStarted(_tmpPath);
    auto* mime = new QMimeData;
    // A file URL is what file managers, upload fields and chat programs all take.
    mime->setUrls({QUrl::fromLocalFile(_tmpPath)});
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->setPixmap(_image.pixmap(QSize(kIconSize, kIconSize), devicePixelRatioF()));
    drag->setHotSpot(_pressPos - QPoint((width() - kIconSize) / 2, (height() - kIconSize) / 2));
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    _setMouseDown(false);
}

void ProxyView::dragEnterEvent(QDragEnterEvent* event)
{
    event->ignore();
}
