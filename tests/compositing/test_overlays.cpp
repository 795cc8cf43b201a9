#include "PixelReference.h"
#include "compositing/ImageProcessor.h"

#include <QBuffer>
#include <QImageWriter>

using namespace PixelReference;

namespace {

const QImage::Format Gray = QImage::Format_Grayscale8;

QImage encodedAndDecoded(const QImage& image, const char* format)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    return QImageWriter(&buffer, format).write(image) ? QImage::fromData(data, format) : QImage();
}

// An Indexed8 image with the gray levels in its palette, in reverse order when asked.
QImage grayIndexed(QSize size, bool reversed = false)
{
    QImage image(size, QImage::Format_Indexed8);
    for (int i = 0; i < 256; ++i) {
        const int v = reversed ? 255 - i : i;
        image.setColor(i, qRgb(v, v, v));
    }
    return image;
}

} // namespace

Q_DECLARE_METATYPE(std::optional<QColor>)

class TestOverlays : public QObject {
    Q_OBJECT
private slots:
    void inverseDecision_data()
    {
        QTest::addColumn<QImage>("mask");
        QTest::addColumn<bool>("inverse");
        QTest::newRow("white border") << frameMask(30, 20, 5) << false;
        QTest::newRow("black border") << frameMask(30, 20, 5, true) << true;
        QImage flat(30, 20, Gray);
        flat.fill(128);
        QTest::newRow("equal sums") << flat << false;
        QTest::newRow("1x1") << frameMask(1, 1) << false;
        QTest::newRow("2x2") << frameMask(2, 2, 1) << false;
        QTest::newRow("rgb light centre")
            << frameMask(30, 20, 5, true).convertToFormat(QImage::Format_RGB888) << true;
        QTest::newRow("null") << QImage() << false;
        // Marks on exactly the corners a 30 x 20 mask compares: the inner rectangle starts
        // at 0.33 x (30, 20) = (9.9, 6.6) and ends at (18.8, 12.2), truncated.
        QImage marks(30, 20, Gray);
        marks.fill(0);
        for (const QPoint& p : {QPoint(0, 0), QPoint(29, 0), QPoint(29, 19), QPoint(0, 19)})
            marks.scanLine(p.y())[p.x()] = 10;
        for (const QPoint& p : {QPoint(9, 6), QPoint(18, 6), QPoint(18, 12), QPoint(9, 12)})
            marks.scanLine(p.y())[p.x()] = 20;
        marks.scanLine(7)[10] = 255; // where rounding would look
        QTest::newRow("truncated inner corners") << marks << true;
    }

    void inverseDecision()
    {
        QFETCH(QImage, mask);
        QFETCH(bool, inverse);
        QCOMPARE(ImageProcessor::isInverseImage(mask), inverse);
    }

    void overlays_data()
    {
        QTest::addColumn<QImage>("mask");
        QTest::addColumn<std::optional<QColor>>("color");
        QTest::addColumn<bool>("turned");
        const std::optional<QColor> none, tinted = QColor(51, 128, 204);
        const QImage::Format RGB = QImage::Format_RGB32;
        // Qt decodes masks to several layouts: the gray palette in an order unlike the gray
        // levels, and 24-bit RGB in either byte order.
        const QImage gray = randomImage(11, 6, Gray, 14);
        QImage palette = grayIndexed(gray.size(), true);
        for (int y = 0; y < gray.height(); ++y)
            for (int x = 0; x < gray.width(); ++x)
                palette.scanLine(y)[x] = uchar(255 - gray.constScanLine(y)[x]);
        const QImage rgb = randomImage(9, 7, RGB, 15);
        for (bool t : {false, true}) {
            const char* s = t ? ", turned" : "";
            QTest::addRow("gray, no colour%s", s) << randomImage(13, 7, Gray, 1) << none << t;
            QTest::addRow("gray, tinted%s", s) << gray << tinted << t;
            QTest::addRow("gray palette%s", s) << palette << tinted << t;
            QTest::addRow("gray inverse%s", s) << frameMask(12, 9, 3, true) << tinted << t;
            QTest::addRow("rgb, no colour%s", s) << randomImage(6, 10, RGB, 5) << none << t;
            QTest::addRow("rgb, tinted%s", s) << rgb << tinted << t;
            QTest::addRow("rgb888%s", s)
                << rgb.convertToFormat(QImage::Format_RGB888) << tinted << t;
            QTest::addRow("bgr888%s", s)
                << rgb.convertToFormat(QImage::Format_BGR888) << tinted << t;
            QTest::addRow("1x1%s", s) << frameMask(1, 1) << tinted << t;
        }
    }

    void overlays()
    {
        QFETCH(QImage, mask);
        QFETCH(std::optional<QColor>, color);
        QFETCH(bool, turned);
        const bool gray = ImageProcessor::isGrayscaleMask(mask);
        const auto overlayOf = gray ? (turned ? &ImageProcessor::rotatedOverlayFromGrayscaleRep
                                              : &ImageProcessor::overlayFromGrayscaleRep)
                                    : (turned ? &ImageProcessor::rotatedOverlayFromRGBRep
                                              : &ImageProcessor::overlayFromRGBRep);
        const QImage overlay = overlayOf(mask, color);
        QCOMPARE(overlay.format(), QImage::Format_ARGB32_Premultiplied);
        const bool inverse = ImageProcessor::isInverseImage(ImageProcessor::maskBitmap(mask));
        COMPARE_PIXELS(overlay, expectedOverlay(mask, components(color), inverse, turned));
    }

    void colorComponents()
    {
        QVERIFY(!ImageProcessor::colorComponents(std::nullopt));
        QVERIFY(!ImageProcessor::colorComponents(QColor()));
        const QColor rgb(255, 0, 51);
        QCOMPARE(ImageProcessor::colorComponents(rgb), components(rgb));
        // Other colour models are read as RGB, never through a missing component.
        QCOMPARE(ImageProcessor::colorComponents(QColor::fromCmyk(0, 255, 255, 0)),
                 components(QColor(255, 0, 0)));
    }

    void borderType_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("gray");
        const QSize s(4, 3);
        auto row = [s](const char* name, QImage::Format format, int type, bool gray = false) {
            QTest::newRow(name) << QImage(s, format) << type << gray;
        };
        row("grayscale8", Gray, 0, true);
        row("rgb32", QImage::Format_RGB32, 0);
        row("rgb888", QImage::Format_RGB888, 0);
        row("argb32", QImage::Format_ARGB32, 1);
        row("rgba64", QImage::Format_RGBA64, 1);
        row("grayscale16", QImage::Format_Grayscale16, -1);
        row("mono", QImage::Format_Mono, -1);
        QTest::newRow("indexed gray") << grayIndexed(s) << 0 << true;
        QImage colours(s, QImage::Format_Indexed8);
        colours.setColorTable({qRgb(9, 9, 9), qRgb(0, 0, 255)}); // not all gray
        QTest::newRow("indexed colour") << colours << 0 << false;
        colours.setColor(0, qRgba(255, 0, 0, 128));
        QTest::newRow("indexed alpha") << colours << 1 << false;
        // As Qt decodes files: a colour JPEG to 32 bits without alpha, a gray PNG to gray.
        const QImage rgb = randomImage(16, 8, QImage::Format_RGB32, 9);
        QTest::newRow("rgb jpeg") << encodedAndDecoded(rgb, "jpg") << 0 << false;
        const QImage gray = randomImage(16, 8, Gray, 10);
        QTest::newRow("gray png") << encodedAndDecoded(gray, "png") << 0 << true;
        const QImage alpha = randomImage(4, 3, QImage::Format_ARGB32, 16);
        QTest::newRow("alpha png") << encodedAndDecoded(alpha, "png") << 1 << false;
        const QImage deep = gray.convertToFormat(QImage::Format_Grayscale16);
        QTest::newRow("16-bit png") << encodedAndDecoded(deep, "png") << -1 << false;
    }

    void borderType()
    {
        QFETCH(QImage, image);
        QFETCH(int, type);
        QFETCH(bool, gray);
        QVERIFY(!image.isNull()); // a file that failed to decode proves nothing
        QCOMPARE(ImageProcessor::borderType(image), type);
        QCOMPARE(ImageProcessor::isGrayscaleMask(image), gray);
    }

    void flipAndTurn()
    {
        QVERIFY(ImageProcessor::flipImageHorizontal(QImage()).isNull());
        QVERIFY(ImageProcessor::rotateCW(QImage()).isNull());
        QVERIFY(ImageProcessor::scaleImageToFit(QImage(), QSize(50, 40)).isNull());
        QCOMPARE(ImageProcessor::borderType(QImage()), -1);
        for (const QImage& image :
             {randomImage(7, 5, Gray, 11), randomImage(5, 3, QImage::Format_ARGB32, 12)}) {
            const QImage flipped = ImageProcessor::flipImageHorizontal(image);
            COMPARE_PIXELS(flipped, image.mirrored(true, false));
            QCOMPARE(ImageProcessor::flipImageHorizontal(flipped), image);
            COMPARE_PIXELS(ImageProcessor::rotateCW(image), turned(image, true));
            COMPARE_PIXELS(ImageProcessor::rotateCCW(image), turned(image, false));
        }
    }

    void scaleToFit_data()
    {
        QTest::addColumn<QSize>("image");
        QTest::addColumn<QSize>("box");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("landscape") << QSize(4000, 3000) << QSize(500, 400) << QSize(500, 375);
        QTest::newRow("portrait") << QSize(3000, 4000) << QSize(500, 400) << QSize(300, 400);
        QTest::newRow("fits") << QSize(400, 300) << QSize(500, 400) << QSize(400, 300);
        QTest::newRow("reduced") << QSize(400, 300) << QSize(50, 40) << QSize(50, 38);
        QTest::newRow("half away from zero") << QSize(5, 2) << QSize(10, 1) << QSize(3, 1);
        QTest::newRow("30000x20") << QSize(30000, 20) << QSize(1200, 800) << QSize(1200, 1);
        QTest::newRow("no box") << QSize(300, 200) << QSize(0, 0) << QSize(1, 1);
        QTest::newRow("empty image") << QSize(0, 0) << QSize(100, 100) << QSize();
    }

    void scaleToFit()
    {
        QFETCH(QSize, image);
        QFETCH(QSize, box);
        QFETCH(QSize, expected);
        QCOMPARE(ImageProcessor::scaledSizeToFit(image, box), expected);
        if (image.isEmpty() || qint64(image.width()) * image.height() > 200000)
            return;
        QImage flat(image, QImage::Format_RGB32);
        flat.fill(qRgb(30, 60, 90));
        const QImage scaled = ImageProcessor::scaleImageToFit(flat, box);
        QCOMPARE(scaled.size(), expected);
        QCOMPARE(scaled.pixel(expected.width() / 2, 0), qRgb(30, 60, 90));
        if (expected == image)
            QCOMPARE(scaled, flat); // never enlarged: a copy
    }
};

QTEST_MAIN(TestOverlays)
#include "test_overlays.moc"
