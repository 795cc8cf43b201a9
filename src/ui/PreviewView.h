#pragma once

#include "compositing/BorderCompositor.h"
#include "compositing/Document.h"

#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class QMimeData;

// The large view of the main window: the document's photo reduced to fit, composited with
// its frame, slid inside the frame by dragging. It draws the document it is given and
// changes only the photo's place in it, at the end of a drag.
//
// View coordinates for the translation have y growing upward, so a drag up moves the
// photo up; the widget's own y grows downward and is turned around at the mouse events.
// The reduced photo, the composite and the translation are in device pixels of the screen
// the window is on, so that a display at scale 2 shows the photo at its own sharpness.
class PreviewView : public QWidget {
    Q_OBJECT
public:
    explicit PreviewView(QWidget* parent = nullptr);
    ~PreviewView() override;

    // The document drawn (null: none, an empty view).
    void setDocument(Document* document);
    Document* document() const { return _document; }

    // The displayed composite (or the reduced photo without a frame); null when empty.
    QImage image() const { return _displayed; }
    bool hasImage() const;
    QImage reducedImage() const { return _mainImageSmall; }

    void updatePreview();

    // The photo's offset in the reduced picture (the document's offset scaled down), in
    // device pixels.
    QPointF translation() const;
    // The same plus the drag so far.
    QPointF currentOffset() const { return translation() + (_currentPoint - _downPoint); }
    bool isMouseDown() const { return _mouseDown; }
    // The box the photo is reduced to fit, in device pixels.
    QSize fitSize() const;
    // The photo as the view shows it: fitted, at device pixels.
    QImage shownPhoto(const QImage& photo) const;
    // Device pixels per point of the screen the reduced photo was made for.
    qreal pixelRatio() const { return _ratio; }

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
    // A file from another application was dropped.
    void fileDropped(const QString& path);
    // Several files were dropped at once: to be framed as a set.
    void filesDropped(const QStringList& paths);
    // Image data without a file was dropped (a picture dragged from a browser).
    void imageDropped(const QImage& image);
    // Every redraw, each drag step included: the file written last may no longer match.
    void redrawn();
    // Double-click: the send-to controller sends the photo to its default destination.
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // Arrows move the photo a point (Shift: ten), as a drag of that length would.
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QPointF viewPoint(const QPointF& widgetPoint) const;
    // Re-fits when the window went to a screen of another density.
    void followScreen();
    void updateCursor();
    void photoChanged();
    void dropDrag();

    QPointer<Document> _document;
    QImage _mainImageSmall;
    BorderCompositor::OverlayCache _cache;
    QImage _displayed;

    bool _mouseDown = false;
    bool _doubleClick = false;
    QPointF _downPoint;
    QPointF _currentPoint;
    QTimer _fitTimer;
    bool _resizedWhileDown = false;
    qreal _ratio = 1.0;
    QMetaObject::Connection _screenConnection;
};
