#pragma once

#include "compositing/BorderCompositor.h"

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class ExportRenderer;
class ImageMetadata;
class OutputSettings;
class QMimeData;
class QProgressBar;
class UserDefaults;

// The large view of the main window: the photo reduced to fit, composited with the chosen
// frame, slid inside the frame by dragging. It is also the source of the full-resolution
// output: its ExportRenderer holds the photo at full size and writes the files.
//
// View coordinates for the translation have y growing upward, so a drag up moves the
// photo up; the widget's own y grows downward and is turned around at the mouse events.
class PreviewView : public QWidget {
    Q_OBJECT
public:
    PreviewView(UserDefaults& defaults, OutputSettings& settings, QWidget* parent = nullptr);
    ~PreviewView() override;

    // The photo at full size (null: none). Puts the photo back at its unshifted place and
    // reports its size through dimensionChanged.
    void setImage(const QImage& photo);
    // The displayed composite (or the reduced photo without a frame); null when empty.
    QImage image() const { return _displayed; }
    bool hasImage() const { return !_mainImage.isNull(); }
    QImage mainImage() const { return _mainImage; }
    QImage reducedImage() const { return _mainImageSmall; }

    // The frame as the user wants it, already mirrored when flipped (null: no frame).
    void setBorderImage(const QImage& border);
    // Always followed by setBorderImage, which redraws.
    void setPostMask(const QImage& postMask);
    // None: transparent background.
    void setBorderColor(const std::optional<QColor>& color);
    std::optional<QColor> borderColor() const { return _borderColor; }

    void updatePreview();

    QPointF translation() const { return _translation; }
    // The reduced photo's offset in the view right now (translation plus the drag so far).
    QPointF currentOffset() const { return _translation + (_currentPoint - _downPoint); }
    bool isMouseDown() const { return _mouseDown; }
    // The box the photo is reduced to fit.
    QSize fitSize() const;

    // The document's output name and metadata, asked for at each export.
    void setDocumentNameProvider(std::function<QString()> provider);
    void setImageMetadata(const ImageMetadata& metadata);

    // Full-resolution output (each runs on a worker thread while the window keeps painting;
    // null QString on failure or while another export runs).
    void clearCache();
    QString writeImageToFile(const QString& nameOrPath, int format, int quality, bool hideExtension,
                             QString* error = nullptr);
    QString writeTmpFile();
    QString writeTmpFileWithFormat(int format);
    void removeTmpFiles();
    ExportRenderer& exportRenderer() { return *_renderer; }
    // The last export's error message.
    QString lastError() const { return _lastError; }
    // A full-resolution job is running.
    bool isBusy() const { return _busy; }

    // Not owned; shown moving while a composite or an output file is being made.
    void setProgressIndicator(QProgressBar* indicator) { _progressIndicator = indicator; }

    // A re-fit is scheduled (0.1 s after the last resize).
    bool isFitPending() const { return _fitTimer.isActive(); }

    // Drops come only from other applications (source null) and carry a local file or
    // image data.
    static bool acceptsDrop(const QMimeData* mime, const QObject* source);

    // The placeholder's and the photo's tooltips.
    static QString emptyToolTip();
    static QString photoToolTip();

public slots:
    // Rebuilds the reduced photo for the current size and scales the translation with it.
    void fitImage();

signals:
    // The photo's pixel size after each setImage (0 x 0 when the photo was removed).
    void dimensionChanged(QSize size);
    // A file from another application was dropped.
    void fileDropped(const QString& path);
    // The colour changed: the size display no longer describes the output.
    void outputStale();
    // Double-click: the send-to controller sends the photo to its default destination.
    void doubleClicked();
    void busyChanged(bool busy);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QPointF viewPoint(const QPointF& widgetPoint) const;
    void updateCursor();
    void syncRenderer();
    template <typename Job> QString runExport(Job job);

    UserDefaults& _defaults;
    OutputSettings& _settings;
    std::unique_ptr<ExportRenderer> _renderer;
    QProgressBar* _progressIndicator = nullptr;
    std::function<QString()> _documentName;

    QImage _mainImage;
    QImage _mainImageSmall;
    QImage _borderImage;
    QImage _postMask;
    std::optional<QColor> _borderColor;
    BorderCompositor::OverlayCache _cache;
    QImage _displayed;

    bool _mouseDown = false;
    bool _doubleClick = false;
    QPointF _downPoint;
    QPointF _currentPoint;
    QPointF _translation;
    QTimer _fitTimer;
    bool _resizedWhileDown = false;
    bool _busy = false;
    QString _lastError;
};
