#include "compositing/Document.h"
#include "compositing/ExportRenderer.h"
#include "output/FileFormat.h"
#include "output/TmpFilePath.h"

#include <QPainter>
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
    for (int i = 0; i < 16 * 8; ++i)
        image.setPixel(i % 16, i / 16, photoAt(i % 16, i / 16).rgb());
    return image;
}

// The left four columns edge, the rest clear (an alpha frame) or black (RGB32: a mask frame,
// white where the frame is).
QImage frame(int w, int h, QImage::Format format, QRgb edge)
{
    QImage image(w, h, format);
    image.fill(0);
    QPainter(&image).fillRect(0, 0, 4, h, QColor::fromRgba(edge));
    return image;
}

} // namespace

// The document changed with no view present: its rules, seen in what the next export writes.
class TestDocument : public QObject {
    Q_OBJECT
private slots:
    void changesReachTheExport()
    {
        const QColor white(Qt::white), red(Qt::red), clear = QColor::fromRgba(0);
        // The steps, then where to look and what must be written there. A new frame or photo
        // resets the place, a colour keeps it. A portrait frame on a landscape photo: turned
        // clockwise, its left edge is the top.
        const std::tuple<QString, QPoint, QColor> rows[] = {
            {"right", {5, 4}, photoAt(1, 4)},
            {"up", {3, 2}, photoAt(3, 4)},
            {"frame", {1, 4}, white},
            {"right frame", {10, 4}, photoAt(10, 4)},
            {"right photo", {1, 4}, photoAt(1, 4)},
            {"frame right red", {5, 4}, photoAt(1, 4)},
            {"frame red", {1, 4}, red},
            {"frame red transparent", {1, 4}, clear},
            {"frame transparent red", {1, 4}, red},
            {"frame red transparent opaque", {1, 4}, red},
            {"frame transparent invalid", {1, 4}, clear},
            {"portrait", {10, 1}, red},
            {"still portrait", {10, 1}, photoAt(10, 1)}};
        for (const auto& [steps, at, written] : rows) {
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
            const QString path =
                ExportRenderer().writeImageToFile(document.framedPhoto(), "out", options);
            const QImage out = QImage(path).convertToFormat(QImage::Format_ARGB32);
            QVERIFY2(out.size() == QSize(16, 8), qPrintable(steps));
            QVERIFY2(QColor::fromRgba(out.pixel(at)) == written, qPrintable(steps));
            TmpFilePath::removeTmpFiles();
        }
    }
};

QTEST_GUILESS_MAIN(TestDocument)
#include "test_document.moc"
