#include "PreviewView.h"

#include "compositing/ImageProcessor.h"
#include "foundation/CustomCursors.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/Resources.h"
#include "foundation/UserDefaults.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QSvgRenderer>
#include <QUrl>

namespace {

// The first local file of a drop, or empty.
QString droppedFilePath(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls())
        return QString();
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return QString();
}

bool canTakeDrop(const QDropEvent* event)
{
    return PreviewView::acceptsDrop(event->mimeData(), event->source());
}

void paintCheckerboard(QPainter& painter, const QRect& rect)
{
    const int cell = 8;
    painter.save();
    painter.setClipRect(rect);
    painter.fillRect(rect, QColor(0xf4, 0xf4, 0xf4));
    for (int y = rect.top(); y <= rect.bottom(); y += cell) {
        for (int x = rect.left() + (((y - rect.top()) / cell) % 2) * cell; x <= rect.right();
             x += 2 * cell)
            painter.fillRect(QRect(x, y, cell, cell), QColor(0xdc, 0xdc, 0xdc));
    }
    painter.restore();
}

} // namespace

PreviewView::PreviewView(UserDefaults& defaults, QWidget* parent)
    : QWidget(parent), _defaults(defaults)
{
    setAcceptDrops(true);
    setMinimumSize(240, 180);
    setContentsMargins(6, 6, 6, 6);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    _fitTimer.setSingleShot(true);
    _fitTimer.setInterval(100);
    connect(&_fitTimer, &QTimer::timeout, this, &PreviewView::fitImage);

    _document.autoRotate = _defaults.boolForKey(DefAutoRotateBorder);
    _defaults.addObserver({DefAutoRotateBorder}, this, [this](const QString&, const QVariant&) {
        _document.autoRotate = _defaults.boolForKey(DefAutoRotateBorder);
        updatePreview();
    });
    updatePreview();
}

PreviewView::~PreviewView() = default;

bool PreviewView::acceptsDrop(const QMimeData* mime, const QObject* source)
{
    // Drags that start inside the program (the proxy icon, a frame thumbnail) would only
    // open what is already open, or a frame as a photo.
    if (source != nullptr || !mime)
        return false;
    return !droppedFilePath(mime).isEmpty() || mime->hasImage();
}

QString PreviewView::emptyToolTip()
{
    return tr("Drop an image file here to open.");
}

QString PreviewView::photoToolTip()
{
    return tr("Drag to re-position image or Ctrl-Click for options.");
}

QSize PreviewView::fitSize() const
{
    return contentsRect().size().expandedTo(QSize(1, 1));
}

QPointF PreviewView::viewPoint(const QPointF& widgetPoint) const
{
    return QPointF(widgetPoint.x(), height() - widgetPoint.y());
}

void PreviewView::updateCursor()
{
    if (!hasImage())
        unsetCursor();
    else if (_mouseDown)
        setCursor(CustomCursors::ztClosedHandCursor());
    else
        setCursor(CustomCursors::ztOpenHandCursor());
}

QPointF PreviewView::translation() const
{
    return BorderCompositor::scaledOffset(_document.offset, _document.photo.width(),
                                          _mainImageSmall.width());
}

void PreviewView::setImage(const QImage& photo, const ImageMetadata& metadata)
{
    _downPoint = _currentPoint = QPointF();
    _document.photo = photo;
    _document.offset = QPointF();
    _document.metadata = std::make_shared<const ImageMetadata>(metadata);
    _mainImageSmall = photo.isNull() ? QImage() : ImageProcessor::scaleImageToFit(photo, fitSize());
    updateCursor();
    emit dimensionChanged(photo.isNull() ? QSize(0, 0) : photo.size());
    if (QWidget* top = window(); top && top->isVisible()) {
        top->raise();
        top->activateWindow();
    }
    updatePreview();
}

void PreviewView::frameChanged()
{
    _downPoint = _currentPoint = QPointF();
    _document.offset = QPointF();
    updatePreview();
}

void PreviewView::setFrame(const QImage& frame, const QImage& postMask, const QString& path,
                           bool flipped)
{
    setFrame(LoadedFrame{frame, postMask, nullptr, nullptr, FrameGeometry()}, path, flipped);
}

void PreviewView::setFrame(const LoadedFrame& loaded, const QString& path, bool flipped)
{
    _document.frame = loaded.frame;
    _document.postMask = loaded.postMask;
    _document.frameDrawing = loaded.frameDrawing;
    _document.postMaskDrawing = loaded.postMaskDrawing;
    _document.geometry = loaded.geometry;
    _document.framePath = path;
    _document.flipped = flipped;
    frameChanged();
}

void PreviewView::setBorderImage(const QImage& border)
{
    _document.frame = border;
    // A picture handed over alone comes without a drawing or a layout of its own.
    _document.frameDrawing = nullptr;
    _document.geometry = FrameGeometry();
    frameChanged();
}

void PreviewView::setPostMask(const QImage& postMask)
{
    _document.postMask = postMask;
    frameChanged();
}

void PreviewView::setBorderColor(const std::optional<QColor>& color)
{
    _document.color = color;
    emit outputStale();
    updatePreview();
}

void PreviewView::updatePreview()
{
    if (hasImage()) {
        const QImage composite = BorderCompositor::compositePreview(
            _document, _mainImageSmall, currentOffset(), _cache, fitSize());
        // A composite that could not be made leaves the previous picture up.
        if (!composite.isNull())
            _displayed = composite;
        setToolTip(photoToolTip());
    } else {
        _displayed = QImage();
        setToolTip(emptyToolTip());
    }
    emit redrawn();
    update();
}

void PreviewView::fitImage()
{
    _downPoint = _currentPoint = QPointF();
    if (!hasImage())
        return;
    // The document's offset is in full-size pixels, so the photo keeps its place.
    _mainImageSmall = ImageProcessor::scaleImageToFit(_document.photo, fitSize());
    updatePreview();
}

void PreviewView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (_mouseDown) {
        _resizedWhileDown = true;
        return;
    }
    _fitTimer.start();
}

void PreviewView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = contentsRect();
    painter.fillRect(rect(), palette().window());
    // A neutral grey well, so that white and black frames both stand out from it.
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(palette().mid().color());
    painter.setBrush(QColor(0xb4, 0xb4, 0xb4));
    painter.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
    painter.setRenderHint(QPainter::Antialiasing, false);

    if (!_displayed.isNull()) {
        QRect target(QPoint(0, 0), _displayed.size());
        target.moveCenter(area.center());
        if (_displayed.hasAlphaChannel())
            paintCheckerboard(painter, target.intersected(area));
        painter.setClipRect(area);
        painter.drawImage(target.topLeft(), _displayed);
        return;
    }

    QSvgRenderer placeholder(Resources::pathFor(QStringLiteral("drophere.svg")));
    if (!placeholder.isValid())
        return;
    QSizeF size = placeholder.defaultSize();
    if (size.width() > area.width() || size.height() > area.height())
        size.scale(area.size(), Qt::KeepAspectRatio);
    QRectF target(QPointF(0, 0), size);
    target.moveCenter(QRectF(area).center());
    placeholder.render(&painter, target);
}

void PreviewView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (event->modifiers() & Qt::ControlModifier) {
        // Ctrl-click opens the options menu, as the tooltip says.
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, event->position().toPoint(),
                                    event->globalPosition().toPoint(), event->modifiers());
        QCoreApplication::sendEvent(this, &menuEvent);
        return;
    }
    _mouseDown = true;
    _resizedWhileDown = false;
    updateCursor();
    if (hasImage())
        _downPoint = _currentPoint = viewPoint(event->position());
}

void PreviewView::mouseDoubleClickEvent(QMouseEvent* event)
{
    mousePressEvent(event);
    if (_mouseDown)
        _doubleClick = true;
}

void PreviewView::mouseMoveEvent(QMouseEvent* event)
{
    if (!_mouseDown || !hasImage())
        return;
    _currentPoint = viewPoint(event->position());
    updatePreview();
}

void PreviewView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !_mouseDown) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    _mouseDown = false;
    updateCursor();
    if (hasImage()) {
        const QPointF moved = viewPoint(event->position()) - _downPoint;
        _document.offset +=
            BorderCompositor::scaledOffset(moved, _mainImageSmall.width(), _document.photo.width());
    }
    _downPoint = _currentPoint = QPointF();
    // A resize during the drag was held back; the view must still fit the photo.
    if (_resizedWhileDown) {
        _resizedWhileDown = false;
        _fitTimer.start();
    }
    if (_doubleClick) {
        _doubleClick = false;
        emit doubleClicked();
    }
}

void PreviewView::dragEnterEvent(QDragEnterEvent* event)
{
    if (canTakeDrop(event)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void PreviewView::dragMoveEvent(QDragMoveEvent* event)
{
    if (canTakeDrop(event)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void PreviewView::dropEvent(QDropEvent* event)
{
    if (!canTakeDrop(event)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    if (paths.size() > 1) {
        emit filesDropped(paths);
        return;
    }
    const QString path = droppedFilePath(event->mimeData());
    if (!path.isEmpty()) {
        emit fileDropped(path);
        return;
    }
    // Image data without a file, e.g. from a browser: shown like a pasted photo.
    const QImage image = qvariant_cast<QImage>(event->mimeData()->imageData());
    if (!image.isNull())
        emit imageDropped(image);
}
