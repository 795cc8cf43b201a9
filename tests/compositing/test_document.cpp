#include "compositing/Document.h"
#include "compositing/ExportRenderer.h"
#include "output/FileFormat.h"
#include "output/TmpFilePath.h"

#include <QTest>

namespace {

// Every pixel tells where it came from: red = 16 x, green = 16 y.
QColor photoAt(int x, int y)
{
    return QColor(16 * x, 16 * y, 200);
}

QImage photo()
{
    QImage image(16, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            image.setPixel(x, y, photoAt(x, y).rgb());
    return image;
}

// The left four columns edge, the rest clear (an alpha frame) or black (RGB32: a mask frame,
// white where the frame is).
QImage frame(int w, int h, QImage::Format format, QRgb edge)
{
    QImage image(w, h, format);
    image.fill(0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < 4; ++x)
            image.setPixel(x, y, edge);
    return image;
}

} // namespace

// The document changed with no view present: its rules, seen in what the next export writes.
class TestDocument : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { TmpFilePath::removeTmpFiles(); }
    void changesReachTheExport_data();
    void changesReachTheExport();
};

void TestDocument::changesReachTheExport_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QColor>("written");
    const QColor white(Qt::white), red(Qt::red), clear = QColor::fromRgba(0);
    QTest::newRow("moved right") << "right" << QPoint(5, 4) << photoAt(1, 4);
    QTest::newRow("moved up") << "up" << QPoint(3, 2) << photoAt(3, 4);
    QTest::newRow("frame in the colour") << "frame" << QPoint(1, 4) << white;
    QTest::newRow("new frame, place reset") << "right frame" << QPoint(10, 4) << photoAt(10, 4);
    QTest::newRow("new photo, place reset") << "right photo" << QPoint(1, 4) << photoAt(1, 4);
    QTest::newRow("colour keeps the place") << "frame right red" << QPoint(5, 4) << photoAt(1, 4);
    QTest::newRow("colour") << "frame red" << QPoint(1, 4) << red;
    QTest::newRow("transparent") << "frame red transparent" << QPoint(1, 4) << clear;
    QTest::newRow("colour ends transparency") << "frame transparent red" << QPoint(1, 4) << red;
    QTest::newRow("opaque again") << "frame red transparent opaque" << QPoint(1, 4) << red;
    QTest::newRow("no colour, no change") << "frame transparent invalid" << QPoint(1, 4) << clear;
    // A portrait frame on a landscape photo: turned clockwise, its left edge is the top.
    QTest::newRow("portrait frame turned") << "portrait" << QPoint(10, 1) << red;
    QTest::newRow("portrait frame as it is") << "still portrait" << QPoint(10, 1) << photoAt(10, 1);
}

void TestDocument::changesReachTheExport()
{
    QFETCH(QString, steps);
    QFETCH(QPoint, at);
    QFETCH(QColor, written);
    Document document;
    document.setPhoto(photo());
    for (const QString& step : steps.split(QLatin1Char(' '))) {
        if (step == "right" || step == "up")
            document.setOffset(step == "right" ? QPointF(4, 0) : QPointF(0, 2));
        else if (step == "frame")
            document.setFrameImage(frame(16, 8, QImage::Format_RGB32, qRgb(255, 255, 255)));
        else if (step == "portrait")
            document.setFrameImage(frame(8, 16, QImage::Format_ARGB32, qRgb(255, 0, 0)));
        else if (step == "photo")
            document.setPhoto(photo());
        else if (step == "red" || step == "invalid")
            QCOMPARE(document.setChosenColor(step == "red" ? QColor(Qt::red) : QColor()),
                     step == "red");
        else if (step == "still")
            document.setAutoRotate(false);
        else
            document.setTransparent(step == "transparent");
    }
    ExportRenderer::Options options;
    options.format = FileFormat::Png;
    // A bare name goes to the temporary folder.
    const QString path = ExportRenderer().writeImageToFile(document.framedPhoto(), "out", options);
    const QImage out = QImage(path).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(out.size(), QSize(16, 8));
    QCOMPARE(QColor::fromRgba(out.pixel(at)), written);
}

QTEST_GUILESS_MAIN(TestDocument)
#include "test_document.moc"
