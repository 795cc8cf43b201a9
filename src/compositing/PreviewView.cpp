#include "PreviewView.h"

#include "app/OutputSettings.h"
#include "compositing/ImageProcessor.h"
#include "foundation/CustomCursors.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/Resources.h"
#include "foundation/UserDefaults.h"
#include "output/ExportRenderer.h"
#include "output/ImageMetadata.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QSvgRenderer>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

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

PreviewView::PreviewView(UserDefaults& defaults, OutputSettings& settings, QWidget* parent)
    : QWidget(parent), _defaults(defaults), _settings(settings),
      _renderer(std::make_unique<ExportRenderer>())
{
    setAcceptDrops(true);
    setMinimumSize(240, 180);
    setContentsMargins(6, 6, 6, 6);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    _fitTimer.setSingleShot(true);
    _fitTimer.setInterval(100);
    connect(&_fitTimer, &QTimer::timeout, this, &PreviewView::fitImage);

    // A changed turning rule makes the cached overlay wrong, not just stale.
    _renderer->setAutoRotate(_defaults.boolForKey(DefAutoRotateBorder));
    _defaults.addObserver({DefAutoRotateBorder}, this, [this](const QString&, const QVariant&) {
        _cache.clear();
        _renderer->setAutoRotate(_defaults.boolForKey(DefAutoRotateBorder));
        updatePreview();
    });

    if (!_settings.transparentBackground())
        _borderColor = QColor(Qt::white);
    _renderer->setBorderColor(_borderColor);
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
    return QStringLiteral("Drop an image file here to open.");
}

QString PreviewView::photoToolTip()
{
    return QStringLiteral("Drag to re-position image or Ctrl-Click for options.");
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

void PreviewView::setImage(const QImage& photo)
{
    _downPoint = _currentPoint = _translation = QPointF();
    _mainImage = photo;
    _mainImageSmall = photo.isNull() ? QImage() : ImageProcessor::scaleImageToFit(photo, fitSize());
    _cache.clear();
    _renderer->setImage(photo);
    _renderer->setTranslation(_translation, _mainImageSmall.width());
    updateCursor();
    emit dimensionChanged(photo.isNull() ? QSize(0, 0) : photo.size());
    if (QWidget* top = window(); top && top->isVisible()) {
        top->raise();
        top->activateWindow();
    }
    updatePreview();
}

void PreviewView::setBorderImage(const QImage& border)
{
    _downPoint = _currentPoint = _translation = QPointF();
    _borderImage = border;
    _cache.clear();
    _renderer->setBorderImage(border);
    _renderer->setTranslation(_translation, _mainImageSmall.width());
    updatePreview();
}

void PreviewView::setPostMask(const QImage& postMask)
{
    _postMask = postMask;
    _cache.clear();
    _renderer->setPostMask(postMask);
}

void PreviewView::setBorderColor(const std::optional<QColor>& color)
{
    _borderColor = color;
    clearCache();
    emit outputStale();
    _cache.clear();
    _renderer->setBorderColor(color);
    updatePreview();
}

void PreviewView::setDocumentNameProvider(std::function<QString()> provider)
{
    _documentName = std::move(provider);
}

void PreviewView::setImageMetadata(const ImageMetadata& metadata)
{
    _renderer->setMetadata(metadata);
}

void PreviewView::updatePreview()
{
    if (hasImage()) {
        const QImage composite = BorderCompositor::compositePreview(
            _mainImageSmall, _mainImage.size(), _borderImage, _postMask, _borderColor,
            currentOffset(), _defaults.boolForKey(DefAutoRotateBorder), _cache, fitSize());
        // A composite that could not be made leaves the previous picture up.
        if (!composite.isNull())
            _displayed = composite;
        setToolTip(photoToolTip());
    } else {
        _displayed = QImage();
        setToolTip(emptyToolTip());
    }
    clearCache();
    update();
}

void PreviewView::fitImage()
{
    if (_busy) {
        // The export reads the translation; re-fit once it is done.
        _fitTimer.start();
        return;
    }
    _downPoint = _currentPoint = QPointF();
    if (!hasImage())
        return;
    const int oldWidth = _mainImageSmall.width();
    _mainImageSmall = ImageProcessor::scaleImageToFit(_mainImage, fitSize());
    _cache.clear();
    const int newWidth = _mainImageSmall.width();
    if (oldWidth > 0)
        _translation *= double(newWidth) / double(oldWidth);
    _renderer->setTranslation(_translation, newWidth);
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
        _translation += viewPoint(event->position()) - _downPoint;
        _renderer->setTranslation(_translation, _mainImageSmall.width());
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
    const QString path = droppedFilePath(event->mimeData());
    if (!path.isEmpty()) {
        emit fileDropped(path);
        return;
    }
    // Image data without a file, e.g. from a browser: shown like a pasted photo.
    const QImage image = qvariant_cast<QImage>(event->mimeData()->imageData());
    if (!image.isNull())
        setImage(image);
}

void PreviewView::clearCache()
{
    _renderer->clearCache();
}

void PreviewView::removeTmpFiles()
{
    ExportRenderer::removeTmpFiles();
}

void PreviewView::syncRenderer()
{
    _renderer->setFileName(_documentName ? _documentName() : QString());
    _renderer->setFileFormat(_settings.fileFormat());
    _renderer->setJpegQuality(_settings.jpegQuality());
    _renderer->setHideExtension(_defaults.boolForKey(DefHideExtension));
    _renderer->setPreserveMetadata(_settings.preserveMetadata());
    _renderer->setFilesizeLimit(
        _defaults.boolForKey(DefLimitFilesize) ? _defaults.integerForKey(DefFilesizeLimit) : 0);
    _renderer->setAutoRotate(_defaults.boolForKey(DefAutoRotateBorder));
    _renderer->setTranslation(_translation, _mainImageSmall.width());
}

template <typename Job> QString PreviewView::runExport(Job job)
{
    if (_busy) {
        _lastError = QStringLiteral("Another export is still running.");
        return QString();
    }
    _busy = true;
    _lastError.clear();
    emit busyChanged(true);
    if (_progressIndicator) {
        _progressIndicator->setRange(0, 0);
        _progressIndicator->show();
    }

    // The window keeps painting and the indicator keeps moving while the worker renders;
    // input waits until the export is over, so nothing can start a second one.
    QFutureWatcher<QString> watcher;
    QEventLoop loop;
    connect(&watcher, &QFutureWatcher<QString>::finished, &loop, &QEventLoop::quit);
    QString error;
    QFuture<QString> future = QtConcurrent::run([&job, &error] { return job(&error); });
    watcher.setFuture(future);
    if (!future.isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    // A quit requested meanwhile ends every loop; the worker still has to be done with us.
    future.waitForFinished();
    QString path = future.result();

    if (_progressIndicator)
        _progressIndicator->hide();
    _lastError = error;
    _busy = false;
    emit busyChanged(false);
    return path;
}

QString PreviewView::writeImageToFile(const QString& nameOrPath, int format, int quality,
                                      bool hideExtension, QString* error)
{
    if (!hasImage()) {
        if (error)
            *error = QStringLiteral("There is no photo to write.");
        return QString();
    }
    syncRenderer();
    ExportRenderer* renderer = _renderer.get();
    QString path = runExport([=](QString* e) {
        return renderer->writeImageToFile(nameOrPath, format, quality, hideExtension, e);
    });
    if (error)
        *error = _lastError;
    return path;
}

QString PreviewView::writeTmpFile()
{
    if (!hasImage())
        return QString();
    syncRenderer();
    ExportRenderer* renderer = _renderer.get();
    return runExport([renderer](QString* e) { return renderer->writeTmpFile(e); });
}

QString PreviewView::writeTmpFileWithFormat(int format)
{
    syncRenderer();
    ExportRenderer* renderer = _renderer.get();
    return runExport(
        [renderer, format](QString* e) { return renderer->writeTmpFileWithFormat(format, e); });
}
