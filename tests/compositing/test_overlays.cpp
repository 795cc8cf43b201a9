#include "compositing/ImageProcessor.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTest>

#include <cmath>

namespace {

using Components = ImageProcessor::ColorComponents;

QImage randomGray(int w, int h, quint32 seed)
{
    QRandomGenerator rng(seed);
    QImage image(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.scanLine(y)[x] = uchar(rng.bounded(256));
    return image;
}

QImage randomRgb(int w, int h, quint32 seed)
{
    QRandomGenerator rng(seed);
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(rng.bounded(256), rng.bounded(256), rng.bounded(256)));
    return image;
}

// White border of `edge` pixels round a black opening.
QImage borderMask(int w, int h, int edge, bool inverted = false)
{
    QImage image(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool border = x < edge || y < edge || x >= w - edge || y >= h - edge;
            image.scanLine(y)[x] = (border != inverted) ? 255 : 0;
        }
    return image;
}

// The mask value of a pixel as the overlays define it, before inversion.
int maskValue(const QImage& mask, int x, int y)
{
    if (mask.format() == QImage::Format_Grayscale8)
        return mask.constScanLine(y)[x];
    const QRgb c = mask.pixel(x, y);
    return (qRed(c) + qGreen(c) + qBlue(c)) / 3;
}

// Premultiplied pixel the overlay must hold for mask value m.
QRgb expectedOverlayPixel(int m, const Components& c)
{
    auto tint = [m](float component) { return int(std::nearbyintf(component * float(m))) & 0xff; };
    if (!c)
        return qRgba(0, 0, 0, m);
    return qRgba(tint((*c)[0]), tint((*c)[1]), tint((*c)[2]), m);
}

void compareOverlay(const QImage& overlay, const QImage& mask, const Components& c, bool inverse,
                    bool turned)
{
    const int w = mask.width();
    const int h = mask.height();
    QCOMPARE(overlay.size(), turned ? QSize(h, w) : QSize(w, h));
    for (int y = 0; y < overlay.height(); ++y)
        for (int x = 0; x < overlay.width(); ++x) {
            // Turned: output row k, column j comes from mask row j, column w - 1 - k.
            const int sx = turned ? w - 1 - y : x;
            const int sy = turned ? x : y;
            int m = maskValue(mask, sx, sy);
            if (inverse)
                m = 255 - m;
            const QRgb expected = expectedOverlayPixel(m, c);
            const QRgb actual =
                reinterpret_cast<const QRgb*>(overlay.constScanLine(y))[x]; // premultiplied
            if (actual != expected)
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2: %3 expected %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(actual, 8, 16)
                                     .arg(expected, 8, 16)));
        }
}

QImage encodedAndDecoded(const QImage& image, const char* format)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image))
        return {};
    return QImage::fromData(data, format);
}

} // namespace

class TestOverlays : public QObject {
    Q_OBJECT
private slots:
    void brightness_data();
    void brightness();
    void cornerBrightnessUsesTruncatedCorners();
    void inverseDecision_data();
    void inverseDecision();
    void overlays_data();
    void overlays();
    void numericExamples();
    void inverseMaskGivesSameOverlay();
    void maskLayoutsAgree();
    void turnedOverlayTopRightToTopLeft();
    void colorComponents();
    void borderType_data();
    void borderType();
    void borderTypeOfDecodedFiles();
    void flipping();
    void turning();
    void scaledSizeToFit_data();
    void scaledSizeToFit();
    void scaleImageToFitNeverEnlarges();
};

void TestOverlays::brightness_data()
{
    QTest::addColumn<int>("r");
    QTest::addColumn<int>("g");
    QTest::addColumn<int>("b");
    QTest::newRow("white") << 255 << 255 << 255;
    QTest::newRow("red 100") << 100 << 0 << 0;
    QTest::newRow("mixed") << 10 << 20 << 31;
    QTest::newRow("green") << 0 << 200 << 0;
    QTest::newRow("black") << 0 << 0 << 0;
}

void TestOverlays::brightness()
{
    QFETCH(int, r);
    QFETCH(int, g);
    QFETCH(int, b);
    QImage rgb(3, 2, QImage::Format_RGB888);
    rgb.fill(Qt::black);
    rgb.setPixel(2, 1, qRgb(r, g, b));
    const unsigned expected = unsigned(std::lrint(0.222 * r + 0.707 * g + 0.071 * b));
    QCOMPARE(ImageProcessor::brightnessAt(rgb, 2, 1), expected);
    QCOMPARE(ImageProcessor::brightnessAt(rgb, 0, 0), 0u);
    QCOMPARE(ImageProcessor::brightnessAt(rgb, 3, 1), 0u); // outside: nothing read
    QCOMPARE(ImageProcessor::brightnessAt(rgb, -1, 0), 0u);

    QImage gray(3, 2, QImage::Format_Grayscale8);
    gray.fill(0);
    gray.scanLine(1)[2] = uchar(r);
    QCOMPARE(ImageProcessor::brightnessAt(gray, 2, 1), unsigned(r));
    if (r == 100 && g == 0)
        QCOMPARE(ImageProcessor::brightnessAt(rgb, 2, 1), 22u);
    if (r == 255 && g == 255)
        QCOMPARE(ImageProcessor::brightnessAt(rgb, 2, 1), 255u);
}

void TestOverlays::cornerBrightnessUsesTruncatedCorners()
{
    // Marks on exactly the corners a 300 x 200 mask compares.
    QImage mask(300, 200, QImage::Format_Grayscale8);
    mask.fill(0);
    const QList<QPoint> outer = {{0, 0}, {299, 0}, {299, 199}, {0, 199}};
    const QList<QPoint> inner = {{99, 66}, {197, 66}, {197, 131}, {99, 131}};
    for (const QPoint& p : outer)
        mask.scanLine(p.y())[p.x()] = 10;
    for (const QPoint& p : inner)
        mask.scanLine(p.y())[p.x()] = 20;
    QCOMPARE(ImageProcessor::cornerBrightness(mask, 0, 0, 300, 200), 40u);
    const float ix = float(0.33 * 300);
    const float iy = float(0.33 * 200);
    QCOMPARE(ImageProcessor::cornerBrightness(mask, ix, iy, ix, iy), 80u);
    QVERIFY(ImageProcessor::isInverseImage(mask));
    // A neighbouring pixel of an inner corner is not looked at.
    mask.scanLine(67)[99] = 255;
    QCOMPARE(ImageProcessor::cornerBrightness(mask, ix, iy, ix, iy), 80u);
}

void TestOverlays::inverseDecision_data()
{
    QTest::addColumn<QImage>("mask");
    QTest::addColumn<bool>("inverse");
    QTest::newRow("white border") << borderMask(30, 20, 5) << false;
    QTest::newRow("black border") << borderMask(30, 20, 5, true) << true;
    QImage flat(30, 20, QImage::Format_Grayscale8);
    flat.fill(128);
    QTest::newRow("equal sums") << flat << false;
    QImage one(1, 1, QImage::Format_Grayscale8);
    one.fill(200);
    QTest::newRow("1x1") << one << false;
    QTest::newRow("1x7") << borderMask(1, 7, 1) << false;
    QTest::newRow("2x2") << borderMask(2, 2, 1) << false;
    QImage rgb(30, 20, QImage::Format_RGB888);
    rgb.fill(qRgb(0, 0, 0));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            if (x > 8 && x < 20 && y > 5 && y < 14)
                rgb.setPixel(x, y, qRgb(255, 255, 255));
    QTest::newRow("rgb light centre") << rgb << true;
    QTest::newRow("null") << QImage() << false;
}

void TestOverlays::inverseDecision()
{
    QFETCH(QImage, mask);
    QFETCH(bool, inverse);
    QCOMPARE(ImageProcessor::isInverseImage(mask), inverse);
}

void TestOverlays::overlays_data()
{
    QTest::addColumn<QImage>("mask");
    QTest::addColumn<Components>("color");
    QTest::addColumn<bool>("turned");
    const Components none;
    const Components white = std::array<float, 3>{1.0f, 1.0f, 1.0f};
    const Components tinted = std::array<float, 3>{0.2f, 0.5f, 0.8f};
    const Components gray = std::array<float, 3>{0.3f, 0.3f, 0.3f};
    for (bool turned : {false, true}) {
        const char* t = turned ? " turned" : "";
        QTest::addRow("gray random, no colour%s", t) << randomGray(13, 7, 1) << none << turned;
        QTest::addRow("gray random, white%s", t) << randomGray(13, 7, 2) << white << turned;
        QTest::addRow("gray random, tinted%s", t) << randomGray(9, 11, 3) << tinted << turned;
        QTest::addRow("gray border, gray%s", t) << borderMask(12, 9, 2) << gray << turned;
        QTest::addRow("gray inverse, tinted%s", t)
            << borderMask(12, 9, 3, true) << tinted << turned;
        QTest::addRow("rgb random, tinted%s", t) << randomRgb(10, 6, 4) << tinted << turned;
        QTest::addRow("rgb random, none%s", t) << randomRgb(6, 10, 5) << none << turned;
        QTest::addRow("1x1%s", t) << borderMask(1, 1, 1) << white << turned;
    }
}

void TestOverlays::overlays()
{
    QFETCH(QImage, mask);
    QFETCH(Components, color);
    QFETCH(bool, turned);
    const bool inverse = ImageProcessor::isInverseImage(ImageProcessor::maskBitmap(mask));
    const QImage overlay =
        ImageProcessor::overlayFromMask(ImageProcessor::maskBitmap(mask), color, turned);
    compareOverlay(overlay, mask, color, inverse, turned);
    QVERIFY(overlay.format() == QImage::Format_ARGB32_Premultiplied);
}

void TestOverlays::numericExamples()
{
    // Outer corners 253 + 255 + 255 + 253 outweigh the inner 4 x 253: not inverse.
    QImage mask(2, 1, QImage::Format_Grayscale8);
    mask.scanLine(0)[0] = 253;
    mask.scanLine(0)[1] = 255;
    QVERIFY(!ImageProcessor::isInverseImage(mask));
    const Components green = std::array<float, 3>{0.0f, 0.5f, 0.0f};
    const QImage overlay = ImageProcessor::overlayFromMask(mask, green, false);
    // Halves go to even: 126.5 gives 126, 127.5 gives 128.
    QCOMPARE(reinterpret_cast<const QRgb*>(overlay.constScanLine(0))[0], qRgba(0, 126, 0, 253));
    QCOMPARE(reinterpret_cast<const QRgb*>(overlay.constScanLine(0))[1], qRgba(0, 128, 0, 255));

    // RGB (10, 20, 31) has the value 20, or 235 in an inverse mask.
    QImage rgb(5, 5, QImage::Format_RGB888);
    rgb.fill(qRgb(10, 20, 31));
    QImage o = ImageProcessor::overlayFromRGBRep(rgb, std::nullopt);
    QCOMPARE(qAlpha(o.pixel(2, 2)), 20);
    rgb.setPixel(1, 1, qRgb(255, 255, 255)); // light inner corner: inverse
    QVERIFY(ImageProcessor::isInverseImage(rgb));
    o = ImageProcessor::overlayFromRGBRep(rgb, std::nullopt);
    QCOMPARE(qAlpha(o.pixel(2, 2)), 235);
    QCOMPARE(o.pixel(2, 2) & 0xffffff, 0u); // no colour: black
}

void TestOverlays::inverseMaskGivesSameOverlay()
{
    const std::optional<QColor> color = QColor(200, 100, 50);
    const QImage a = ImageProcessor::overlayFromGrayscaleRep(borderMask(40, 30, 6), color);
    const QImage b = ImageProcessor::overlayFromGrayscaleRep(borderMask(40, 30, 6, true), color);
    QCOMPARE(a, b);
    QCOMPARE(qAlpha(a.pixel(0, 0)), 255); // border: opaque frame colour
    QCOMPARE(qAlpha(a.pixel(20, 15)), 0); // opening: the photo shows
    QCOMPARE(a.pixel(0, 0), qRgb(200, 100, 50));
}

void TestOverlays::maskLayoutsAgree()
{
    // Qt decodes the same mask to different layouts; the overlay must not depend on them.
    const QImage gray = randomGray(11, 6, 14);
    QImage indexed(gray.size(), QImage::Format_Indexed8);
    QList<QRgb> table;
    for (int i = 0; i < 256; ++i)
        table << qRgb(255 - i, 255 - i, 255 - i); // palette order unlike the gray levels
    indexed.setColorTable(table);
    for (int y = 0; y < gray.height(); ++y)
        for (int x = 0; x < gray.width(); ++x)
            indexed.scanLine(y)[x] = uchar(255 - gray.constScanLine(y)[x]);
    const std::optional<QColor> color = QColor(10, 200, 90);
    for (bool turned : {false, true}) {
        const auto overlay = turned ? &ImageProcessor::rotatedOverlayFromGrayscaleRep
                                    : &ImageProcessor::overlayFromGrayscaleRep;
        QCOMPARE(overlay(indexed, color), overlay(gray, color));
        const QImage rgb32 = randomRgb(9, 7, 15);
        const auto rgbOverlay =
            turned ? &ImageProcessor::rotatedOverlayFromRGBRep : &ImageProcessor::overlayFromRGBRep;
        QCOMPARE(rgbOverlay(rgb32, color),
                 rgbOverlay(rgb32.convertToFormat(QImage::Format_RGB888), color));
        QCOMPARE(rgbOverlay(rgb32, color),
                 rgbOverlay(rgb32.convertToFormat(QImage::Format_BGR888), color));
    }
}

void TestOverlays::turnedOverlayTopRightToTopLeft()
{
    QImage mask(300, 200, QImage::Format_Grayscale8);
    mask.fill(0);
    mask.scanLine(0)[299] = 77; // top right
    const QImage o = ImageProcessor::rotatedOverlayFromGrayscaleRep(mask, QColor(Qt::white));
    QCOMPARE(o.size(), QSize(200, 300));
    QCOMPARE(qAlpha(o.pixel(0, 0)), 77);
    QCOMPARE(qAlpha(o.pixel(199, 0)), 0);
}

void TestOverlays::colorComponents()
{
    QVERIFY(!ImageProcessor::colorComponents(std::nullopt));
    QVERIFY(!ImageProcessor::colorComponents(QColor()));
    const auto rgb = ImageProcessor::colorComponents(QColor(255, 0, 51));
    QVERIFY(rgb);
    QCOMPARE((*rgb)[0], 1.0f);
    QCOMPARE((*rgb)[1], 0.0f);
    QCOMPARE((*rgb)[2], QColor(255, 0, 51).blueF());
    // Other colour models are read as RGB, never through a missing component.
    const QColor cmyk = QColor::fromCmyk(0, 255, 255, 0);
    const auto converted = ImageProcessor::colorComponents(cmyk);
    QVERIFY(converted);
    QCOMPARE((*converted)[0], 1.0f);
    QCOMPARE((*converted)[1], 0.0f);
    const auto hsv = ImageProcessor::colorComponents(QColor::fromHsv(120, 255, 255));
    QCOMPARE((*hsv)[1], 1.0f);
}

void TestOverlays::borderType_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("gray");
    QTest::newRow("null") << QImage() << -1 << false;
    QTest::newRow("grayscale8") << QImage(4, 3, QImage::Format_Grayscale8) << 0 << true;
    QTest::newRow("rgb32") << QImage(4, 3, QImage::Format_RGB32) << 0 << false;
    QTest::newRow("rgb888") << QImage(4, 3, QImage::Format_RGB888) << 0 << false;
    QTest::newRow("argb32") << QImage(4, 3, QImage::Format_ARGB32) << 1 << false;
    QTest::newRow("argb32pm") << QImage(4, 3, QImage::Format_ARGB32_Premultiplied) << 1 << false;
    QTest::newRow("rgba64") << QImage(4, 3, QImage::Format_RGBA64) << 1 << false;
    QTest::newRow("grayscale16") << QImage(4, 3, QImage::Format_Grayscale16) << -1 << false;
    QTest::newRow("rgbx64") << QImage(4, 3, QImage::Format_RGBX64) << -1 << false;
    QImage mono(4, 3, QImage::Format_Mono);
    mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    QTest::newRow("mono") << mono << -1 << false;
    QImage grayIndexed(4, 3, QImage::Format_Indexed8);
    QList<QRgb> grays;
    for (int i = 0; i < 256; ++i)
        grays << qRgb(i, i, i);
    grayIndexed.setColorTable(grays);
    QTest::newRow("indexed gray") << grayIndexed << 0 << true;
    QImage colourIndexed(4, 3, QImage::Format_Indexed8);
    colourIndexed.setColorTable({qRgb(255, 0, 0), qRgb(0, 0, 255)});
    QTest::newRow("indexed colour") << colourIndexed << 0 << false;
    QImage alphaIndexed(4, 3, QImage::Format_Indexed8);
    alphaIndexed.setColorTable({qRgba(255, 0, 0, 128), qRgb(0, 0, 255)});
    QTest::newRow("indexed alpha") << alphaIndexed << 1 << false;
}

void TestOverlays::borderType()
{
    QFETCH(QImage, image);
    QFETCH(int, type);
    QFETCH(bool, gray);
    QCOMPARE(ImageProcessor::borderType(image), type);
    QCOMPARE(ImageProcessor::isGrayscaleMask(image), gray);
}

void TestOverlays::borderTypeOfDecodedFiles()
{
    const QImage rgbJpeg = encodedAndDecoded(randomRgb(16, 8, 9), "jpg");
    QVERIFY(!rgbJpeg.isNull());
    QCOMPARE(ImageProcessor::borderType(rgbJpeg), 0);
    QVERIFY(!ImageProcessor::isGrayscaleMask(rgbJpeg));

    const QImage grayPng = encodedAndDecoded(randomGray(16, 8, 10), "png");
    QCOMPARE(ImageProcessor::borderType(grayPng), 0);
    QVERIFY(ImageProcessor::isGrayscaleMask(grayPng));

    QImage withAlpha(8, 8, QImage::Format_ARGB32);
    withAlpha.fill(qRgba(10, 20, 30, 40));
    QCOMPARE(ImageProcessor::borderType(encodedAndDecoded(withAlpha, "png")), 1);

    QImage deep(8, 8, QImage::Format_Grayscale16);
    deep.fill(Qt::gray);
    const QImage deepPng = encodedAndDecoded(deep, "png");
    QVERIFY(!deepPng.isNull());
    QCOMPARE(ImageProcessor::borderType(deepPng), -1);
}

void TestOverlays::flipping()
{
    QVERIFY(ImageProcessor::flipImageHorizontal(QImage()).isNull());
    const QImage gray = randomGray(7, 5, 11);
    const QImage flipped = ImageProcessor::flipImageHorizontal(gray);
    QCOMPARE(flipped.size(), gray.size());
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            QCOMPARE(flipped.constScanLine(y)[x], gray.constScanLine(y)[6 - x]);
    QCOMPARE(ImageProcessor::flipImageHorizontal(flipped), gray);
    // A flipped mask frame is still a mask frame.
    QCOMPARE(ImageProcessor::borderType(flipped), 0);
}

void TestOverlays::turning()
{
    QVERIFY(ImageProcessor::rotateCW(QImage()).isNull());
    QImage image(5, 3, QImage::Format_ARGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            image.setPixel(x, y, qRgba(x * 40, y * 80, 7, 255 - x - y));
    const QImage cw = ImageProcessor::rotateCW(image);
    const QImage ccw = ImageProcessor::rotateCCW(image);
    QCOMPARE(cw.size(), QSize(3, 5));
    QCOMPARE(ccw.size(), QSize(3, 5));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            // Clockwise: the left edge becomes the top edge, read from the bottom up.
            QCOMPARE(cw.pixel(2 - y, x), image.pixel(x, y));
            QCOMPARE(ccw.pixel(y, 4 - x), image.pixel(x, y));
        }
    QCOMPARE(ImageProcessor::rotateCW(ccw), image);
}

void TestOverlays::scaledSizeToFit_data()
{
    QTest::addColumn<QSize>("image");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("landscape") << QSize(4000, 3000) << QSize(500, 400) << QSize(500, 375);
    QTest::newRow("portrait") << QSize(3000, 4000) << QSize(500, 400) << QSize(300, 400);
    QTest::newRow("fits") << QSize(400, 300) << QSize(500, 400) << QSize(400, 300);
    QTest::newRow("tie to height") << QSize(1000, 800) << QSize(500, 400) << QSize(500, 400);
    QTest::newRow("half up in height") << QSize(4, 1) << QSize(2, 2) << QSize(2, 1);
    QTest::newRow("half away from zero") << QSize(5, 2) << QSize(10, 1) << QSize(3, 1);
    QTest::newRow("1001x1000") << QSize(1001, 1000) << QSize(400, 400) << QSize(400, 400);
    QTest::newRow("very wide") << QSize(30000, 5) << QSize(1200, 800) << QSize(1200, 1);
    QTest::newRow("30000x20") << QSize(30000, 20) << QSize(1200, 800) << QSize(1200, 1);
    QTest::newRow("no box") << QSize(300, 200) << QSize(0, 0) << QSize(1, 1);
    QTest::newRow("empty image") << QSize(0, 0) << QSize(100, 100) << QSize();
}

void TestOverlays::scaledSizeToFit()
{
    QFETCH(QSize, image);
    QFETCH(QSize, box);
    QFETCH(QSize, expected);
    QCOMPARE(ImageProcessor::scaledSizeToFit(image, box), expected);
}

void TestOverlays::scaleImageToFitNeverEnlarges()
{
    const QImage small = randomRgb(40, 30, 12);
    QCOMPARE(ImageProcessor::scaleImageToFit(small, QSize(500, 400)), small);
    QCOMPARE(ImageProcessor::scaleImageToFit(randomRgb(400, 300, 13), QSize(50, 40)).size(),
             QSize(50, 38));
    QVERIFY(ImageProcessor::scaleImageToFit(QImage(), QSize(50, 40)).isNull());
    QImage flat(300, 10, QImage::Format_RGB32);
    flat.fill(qRgb(30, 60, 90));
    const QImage reduced = ImageProcessor::scaleImageToFit(flat, QSize(30, 30));
    QCOMPARE(reduced.size(), QSize(30, 1));
    QCOMPARE(reduced.pixel(15, 0), qRgb(30, 60, 90));
}

QTEST_MAIN(TestOverlays)
#include "test_overlays.moc"
