#include "PreviewView.h"

#include "compositing/Document.h"
#include "compositing/ImageProcessor.h"
#include "foundation/Resources.h"
#include "ui/CustomCursors.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QSvgRenderer>
#include <QUrl>
#include <QWindow>

#include <cmath>

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

QColor mixed(const QColor& a, const QColor& b, double share)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * share),
                            float(a.greenF() + (b.greenF() - a.greenF()) * share),
                            float(a.blueF() + (b.blueF() - a.blueF()) * share));
}

// From the palette, so that a dark theme gets a dark pattern rather than a glaring one.
void paintCheckerboard(QPainter& painter, const QRectF& rect, const QPalette& palette)
{
    const int cell = 8;
    const QColor light = palette.color(QPalette::Base);
    const QColor dark = mixed(light, palette.color(QPalette::Text), 0.12);
    painter.save();
    painter.setClipRect(rect);
    painter.fillRect(rect, light);
    const QRect cells = rect.toAlignedRect();
    for (int y = cells.top(); y <= cells.bottom(); y += cell) {
        for (int x = cells.left() + (((y - cells.top()) / cell) % 2) * cell; x <= cells.right();
             x += 2 * cell)
            painter.fillRect(QRect(x, y, cell, cell), dark);
    }
    painter.restore();
}

} // namespace

PreviewView::PreviewView(QWidget* parent) : QWidget(parent)
{
    setAcceptDrops(true);
    setMinimumSize(240, 180);
    setContentsMargins(6, 6, 6, 6);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    _fitTimer.setSingleShot(true);
    _fitTimer.setInterval(100);
    connect(&_fitTimer, &QTimer::timeout, this, &PreviewView::fitImage);

    updatePreview();
}

PreviewView::~PreviewView() = default;

void PreviewView::setDocument(Document* document)
{
    if (_document)
        _document->disconnect(this);
    _document = document;
    if (document) {
        connect(document, &Document::photoChanged, this, &PreviewView::photoChanged);
        connect(document, &Document::frameChanged, this, &PreviewView::dropDrag);
        connect(document, &Document::changed, this, &PreviewView::updatePreview);
    }
    photoChanged();
    updatePreview();
}

bool PreviewView::hasImage() const
{
    return _document && _document->hasPhoto();
}

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

QImage PreviewView::shownPhoto(const QImage& photo) const
{
    if (photo.isNull())
        return {};
    // Fitted in the window's own units, where a photo is never shown larger than its
    // pixels, then made at device pixels: a small photo takes the same share of the window
    // at every scale, and a large one is as sharp as the screen.
    const qreal ratio = devicePixelRatioF();
    const QSize shown =
        ImageProcessor::scaledSizeToFit(photo.size(), contentsRect().size().expandedTo({1, 1}));
    const QSize device =
        QSize(int(std::floor(shown.width() * ratio)), int(std::floor(shown.height() * ratio)))
            .expandedTo(QSize(1, 1))
            .boundedTo(fitSize());
    if (device == photo.size())
        return photo;
    return photo.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QSize PreviewView::fitSize() const
{
    // Rounded down: the photo never overhangs the area by a device pixel.
    const qreal ratio = devicePixelRatioF();
    const QSize area = contentsRect().size();
    return QSize(int(std::floor(area.width() * ratio)), int(std::floor(area.height() * ratio)))
        .expandedTo(QSize(1, 1));
}

QPointF PreviewView::viewPoint(const QPointF& widgetPoint) const
{
    return QPointF(widgetPoint.x(), height() - widgetPoint.y()) * _ratio;
}

void PreviewView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The window handle exists only once shown; a move to a screen of another density must
    // remake the reduced photo at the new one.
    disconnect(_screenConnection);
    if (QWindow* handle = window()->windowHandle())
        _screenConnection = connect(handle, &QWindow::screenChanged, this, [this] {
            QTimer::singleShot(0, this, [this] { followScreen(); });
        });
    followScreen();
}

void PreviewView::followScreen()
{
    if (qFuzzyCompare(devicePixelRatioF(), _ratio) || _mouseDown)
        return;
    updateCursor();
    if (hasImage())
        _fitTimer.start();
    else
        _ratio = devicePixelRatioF();
    update();
}

void PreviewView::updateCursor()
{
    if (!hasImage())
        unsetCursor();
    else if (_mouseDown)
        setCursor(CustomCursors::ztClosedHandCursor(devicePixelRatioF()));
    else
        setCursor(CustomCursors::ztOpenHandCursor(devicePixelRatioF()));
}

QPointF PreviewView::translation() const
{
    if (!_document)
        return {};
    const FramedPhoto& framed = _document->framedPhoto();
    return BorderCompositor::scaledOffset(framed.offset, framed.photo.width(),
                                          _mainImageSmall.width());
}

void PreviewView::photoChanged()
{
    dropDrag();
    _ratio = devicePixelRatioF();
    const QImage photo = hasImage() ? _document->framedPhoto().photo : QImage();
    _mainImageSmall = shownPhoto(photo);
    updateCursor();
    if (!photo.isNull()) {
        if (QWidget* top = window(); top && top->isVisible()) {
            top->raise();
            top->activateWindow();
        }
    }
}

void PreviewView::dropDrag()
{
    // The place the drag started from is gone with the photo or frame it was made for.
    _downPoint = _currentPoint = QPointF();
}

void PreviewView::updatePreview()
{
    if (hasImage()) {
        const QImage composite = BorderCompositor::compositePreview(
            _document->framedPhoto(), _mainImageSmall, currentOffset(), _cache, fitSize());
        // A composite that could not be made leaves the previous picture up.
        if (!composite.isNull()) {
            _displayed = composite;
            _displayed.setDevicePixelRatio(_ratio);
        }
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
    _ratio = devicePixelRatioF();
    _mainImageSmall = shownPhoto(_document->framedPhoto().photo);
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
    // A grey well a quarter of the way from the window's colour to its text's, so that
    // white and black frames both stand out from it, in light and dark themes alike.
    const QPalette& colors = palette();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(hasFocus() ? QPen(colors.color(QPalette::Highlight), 2)
                              : QPen(colors.color(QPalette::Mid)));
    painter.setBrush(
        mixed(colors.color(QPalette::Window), colors.color(QPalette::WindowText), 0.25));
    painter.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
    painter.setRenderHint(QPainter::Antialiasing, false);

    if (!_displayed.isNull()) {
        // Placed on whole device pixels, so that the composite is copied, never resampled.
        const qreal ratio = _displayed.devicePixelRatio();
        const QPointF centre = QRectF(area).center() * ratio;
        const QPointF corner(std::round(centre.x() - _displayed.width() / 2.0),
                             std::round(centre.y() - _displayed.height() / 2.0));
        const QRectF target(corner / ratio, _displayed.deviceIndependentSize());
        if (_displayed.hasAlphaChannel())
            paintCheckerboard(painter, target.intersected(area), colors);
        painter.setClipRect(area);
        painter.drawImage(target.topLeft(), _displayed);
        // Drawn for another density: the re-fit for this one follows.
        if (!qFuzzyCompare(ratio, devicePixelRatioF()))
            followScreen();
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

void PreviewView::keyPressEvent(QKeyEvent* event)
{
    QPointF step;
    switch (event->key()) {
    case Qt::Key_Left:
        step = QPointF(-1, 0);
        break;
    case Qt::Key_Right:
        step = QPointF(1, 0);
        break;
    case Qt::Key_Up:
        step = QPointF(0, 1);
        break;
    case Qt::Key_Down:
        step = QPointF(0, -1);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    if (!hasImage() || _mouseDown) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (event->modifiers() & Qt::ShiftModifier)
        step *= 10;
    // In points, as the mouse moves; the reduced photo is in device pixels.
    const FramedPhoto& framed = _document->framedPhoto();
    _document->setOffset(framed.offset + BorderCompositor::scaledOffset(step * _ratio,
                                                                        _mainImageSmall.width(),
                                                                        framed.photo.width()));
}

void PreviewView::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void PreviewView::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
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
    const QPointF moved = viewPoint(event->position()) - _downPoint;
    _downPoint = _currentPoint = QPointF();
    if (hasImage()) {
        const FramedPhoto& framed = _document->framedPhoto();
        _document->setOffset(framed.offset + BorderCompositor::scaledOffset(moved,
                                                                            _mainImageSmall.width(),
                                                                            framed.photo.width()));
    }
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
