#include "TestSupport.h"
#include "compositing/Document.h"
#include "ui/PreviewView.h"

#include <QMimeData>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QUrl>
#include <QtTest>

namespace {

// Every pixel tells where it came from: red = x, green = y.
QImage coordinatePhoto(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, 128));
    return image;
}

} // namespace

class TestPreviewView : public QObject {
    Q_OBJECT
    std::unique_ptr<Document> _document;
    std::unique_ptr<PreviewView> _view;

    void makeView(QSize fit, QSize photo, bool transparent = true)
    {
        _view.reset();
        _document = std::make_unique<Document>();
        _view = std::make_unique<PreviewView>();
        _view->setDocument(_document.get());
        _view->setContentsMargins(0, 0, 0, 0);
        _view->setMinimumSize(1, 1);
        _view->resize(fit);
        // Shown, so that resizes arrive as they would in the window.
        _view->show();
        QVERIFY(QTest::qWaitForWindowExposed(_view.get()));
        _document->setPhoto(coordinatePhoto(photo.width(), photo.height()));
        // Transparent background: what the photo leaves uncovered stays clear.
        _document->setTransparent(transparent);
    }

    void mouse(QEvent::Type type, QPointF pos, Qt::MouseButton button = Qt::LeftButton)
    {
        const Qt::MouseButtons buttons =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, pos, _view->mapToGlobal(pos), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(_view.get(), &event);
    }

private slots:
    void dragMovesPhotoUpAndRight()
    {
        makeView(QSize(200, 100), QSize(200, 100));
        const QImage photo = coordinatePhoto(200, 100);
        // 30 to the right and 10 up on the screen (the widget's y grows downward).
        mouse(QEvent::MouseButtonPress, QPointF(50, 50));
        mouse(QEvent::MouseMove, QPointF(80, 40));
        QCOMPARE(_view->currentOffset(), QPointF(30, 10));
        QCOMPARE(_view->translation(), QPointF(0, 0));
        const QImage shown = _view->image().convertToFormat(QImage::Format_ARGB32);
        // Moved right: the left 30 columns are uncovered. Moved up: the bottom 10 rows are.
        QCOMPARE(qAlpha(shown.pixel(10, 50)) + qAlpha(shown.pixel(100, 95)), 0);
        // Photo pixel (x, y) now sits at (x + 30, y - 10).
        QCOMPARE(shown.pixel(30, 0), photo.pixel(0, 10));
        QCOMPARE(shown.pixel(100, 40), photo.pixel(70, 50));

        mouse(QEvent::MouseButtonRelease, QPointF(80, 40));
        QCOMPARE(_document->framedPhoto().offset, QPointF(30, 10));
        // Moves after the button came up do not drag, nor does a right-button press.
        mouse(QEvent::MouseMove, QPointF(90, 90));
        QCOMPARE(_view->currentOffset(), QPointF(30, 10));
        mouse(QEvent::MouseButtonPress, QPointF(10, 10), Qt::RightButton);
        QVERIFY(!_view->isMouseDown());
        // A change of the document is drawn at once.
        _document->setOffset(QPointF());
        QCOMPARE(_view->image().pixel(10, 50), photo.pixel(10, 50));

        // A new frame from elsewhere during a drag: the drag starts again from the new place.
        mouse(QEvent::MouseButtonPress, QPointF(10, 10));
        mouse(QEvent::MouseMove, QPointF(30, 10));
        _document->setFrameImage(QImage());
        QCOMPARE(_view->currentOffset(), QPointF(0, 0));
    }

    void reducedViewScalesMoves()
    {
        // A quarter-size view: each point moved by keys or the mouse is four photo pixels.
        makeView(QSize(200, 150), QSize(800, 600));
        QTest::keyClick(_view.get(), Qt::Key_Right);
        QTest::keyClick(_view.get(), Qt::Key_Up, Qt::ShiftModifier);
        QCOMPARE(_document->framedPhoto().offset, QPointF(4, 40));
        QTest::keyClick(_view.get(), Qt::Key_Left, Qt::ShiftModifier);
        QTest::keyClick(_view.get(), Qt::Key_Down);
        QCOMPARE(_view->translation(), QPointF(-9, 9));
        mouse(QEvent::MouseButtonPress, QPointF(100, 75));
        mouse(QEvent::MouseButtonRelease, QPointF(139, 84));
        QCOMPARE(_document->framedPhoto().offset, QPointF(120, 0));

        // Fitted to a larger view, the photo keeps its place relative to its full size.
        _view->resize(400, 300);
        _view->fitImage();
        QCOMPARE(_view->translation(), QPointF(60, 0));
        QCOMPARE(_document->framedPhoto().offset, QPointF(120, 0));
        // Shown 60 points right of its unshifted place: photo column 0 at view column 60.
        const QImage shown = _view->image().convertToFormat(QImage::Format_ARGB32);
        QVERIFY(qAlpha(shown.pixel(59, 150)) == 0 && qAlpha(shown.pixel(60, 150)) > 0);
    }

    void dropsAndDoubleClick()
    {
        // Taken only from other applications: a drag from inside the program (the document
        // icon's own file) would open what is open already.
        QObject inside;
        const std::unique_ptr<QMimeData> file(fileMime({"/photos/a.jpg"}));
        QVERIFY(PreviewView::acceptsDrop(file.get(), nullptr));
        QVERIFY(!PreviewView::acceptsDrop(file.get(), &inside));
        makeView(QSize(200, 100), QSize());
        QSignalSpy dropped(_view.get(), &PreviewView::fileDropped);
        QMimeData mixed;
        mixed.setUrls({QUrl("https://example.org/x.jpg"), QUrl::fromLocalFile("/photos/b.png")});
        QVERIFY(dropOn(_view.get(), mixed).entered); // the address is no file
        QCOMPARE(dropped.count(), 1);
        QCOMPARE(dropped.at(0).at(0).toString(), QString("/photos/b.png"));

        // Also without a photo: the send-to side decides there is nothing to send.
        QSignalSpy doubled(_view.get(), &PreviewView::doubleClicked);
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                  QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
            QCOMPARE(doubled.count(), 0);
            mouse(type, QPointF(10, 10));
        }
        QCOMPARE(doubled.count(), 1);
    }
};

QTEST_MAIN(TestPreviewView)
#include "test_previewview.moc"
