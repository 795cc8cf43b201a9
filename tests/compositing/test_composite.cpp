#include "compositing/BorderCompositor.h"
#include "compositing/ImageProcessor.h"
#include "compositing/ImageStretcher.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <functional>

using namespace BorderCompositor;

namespace {

// Expectations below use plain per-channel arithmetic on premultiplied pixels, rounded to
// nearest, written independently of the compositor's packed and vector code.
int mul(int v, int a)
{
    return int(std::lround(v * a / 255.0));
}

QRgb pixelMul(QRgb p, int f)
{
    return qRgba(mul(qRed(p), f), mul(qGreen(p), f), mul(qBlue(p), f), mul(qAlpha(p), f));
}

QRgb pixelAdd(QRgb a, QRgb b)
{
    auto add = [](int x, int y) { return std::min(255, x + y); };
    return qRgba(add(qRed(a), qRed(b)), add(qGreen(a), qGreen(b)), add(qBlue(a), qBlue(b)),
                 add(qAlpha(a), qAlpha(b)));
}

QRgb sourceOver(QRgb dst, QRgb src)
{
    return pixelAdd(src, pixelMul(dst, 255 - qAlpha(src)));
}

QRgb destinationOut(QRgb dst, QRgb src)
{
    return pixelMul(dst, 255 - qAlpha(src));
}

QRgb destinationOver(QRgb dst, QRgb src)
{
    return pixelAdd(dst, pixelMul(src, 255 - qAlpha(dst)));
}

QRgb premultipliedAt(const QImage& image, int x, int y)
{
    return qPremultiply(image.pixel(x, y));
}

QImage randomPhoto(int w, int h, quint32 seed, bool withAlpha = false)
{
    QRandomGenerator rng(seed);
    QImage image(w, h, withAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y,
                           qRgba(rng.bounded(256), rng.bounded(256), rng.bounded(256),
                                 withAlpha ? rng.bounded(256) : 255));
    return image;
}

// White border of 2 pixels with ramps inside, black opening: a mask that is not inverse.
QImage grayFrame(int w, int h)
{
    QImage image(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int d = std::min({x, y, w - 1 - x, h - 1 - y});
            image.scanLine(y)[x] = uchar(d < 2 ? 255 : d == 2 ? 180 : d == 3 ? 40 : 0);
        }
    return image;
}

QImage rgbFrame(int w, int h)
{
    const QImage gray = grayFrame(w, h);
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v = gray.constScanLine(y)[x];
            image.setPixel(x, y, qRgb(v, std::max(0, v - 30), std::min(255, v + 20)));
        }
    return image;
}

QImage alphaFrame(int w, int h)
{
    const QImage gray = grayFrame(w, h);
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgba(150, 90, 30, gray.constScanLine(y)[x]));
    return image;
}

QImage randomPostMask(int w, int h, quint32 seed)
{
    QRandomGenerator rng(seed);
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int pick = rng.bounded(4); // plenty of fully clear and fully opaque pixels
            const int a = pick == 0 ? 0 : pick == 1 ? 255 : rng.bounded(256);
            image.setPixel(x, y, qRgba(0, 0, 0, a));
        }
    return image;
}

// Overlay pixel of a mask frame for mask value m with the given colour.
QRgb maskOverlayPixel(int m, const std::optional<QColor>& color)
{
    if (!color)
        return qRgba(0, 0, 0, m);
    auto tint = [m](float c) { return int(std::nearbyintf(c * float(m))); };
    return qRgba(tint(color->redF()), tint(color->greenF()), tint(color->blueF()), m);
}

enum FrameKind { NoFrame, GrayMask, RgbMask, AlphaFrame, Unsupported };

QImage makeFrame(FrameKind kind, int w, int h)
{
    switch (kind) {
    case GrayMask:
        return grayFrame(w, h);
    case RgbMask:
        return rgbFrame(w, h);
    case AlphaFrame:
        return alphaFrame(w, h);
    case Unsupported:
        return grayFrame(w, h).convertToFormat(QImage::Format_Grayscale16);
    default:
        return {};
    }
}

// The expected overlay pixel at (x, y) of an unturned frame of the canvas's own size.
QRgb frameOverlayAt(FrameKind kind, const QImage& frame, int x, int y,
                    const std::optional<QColor>& color)
{
    switch (kind) {
    case GrayMask:
        return maskOverlayPixel(frame.constScanLine(y)[x], color);
    case RgbMask: {
        const QRgb c = frame.pixel(x, y);
        return maskOverlayPixel((qRed(c) + qGreen(c) + qBlue(c)) / 3, color);
    }
    case AlphaFrame:
        return premultipliedAt(frame, x, y);
    default:
        return 0;
    }
}

using OverlayAt = std::function<QRgb(int x, int y)>;

// The whole composite for layers of the canvas's size; `shift` in canvas pixels, y down.
QImage expectedComposite(const QImage& photo, QPoint shift, const OverlayAt& overlay,
                         bool destinationOutOperator, const QImage& postMask,
                         const std::optional<QColor>& color)
{
    QImage out(photo.size(), QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) {
            const int px = x - shift.x();
            const int py = y - shift.y();
            QRgb d = 0;
            if (px >= 0 && py >= 0 && px < photo.width() && py < photo.height())
                d = premultipliedAt(photo, px, py);
            if (overlay) {
                const QRgb o = overlay(x, y);
                d = destinationOutOperator ? destinationOut(d, o) : sourceOver(d, o);
            }
            if (!postMask.isNull()) {
                d = pixelMul(d, 255 - qAlpha(postMask.pixel(x, y)));
                if (color)
                    d = destinationOver(d, qPremultiply(color->rgba()));
            }
            reinterpret_cast<QRgb*>(out.scanLine(y))[x] = d;
        }
    return out;
}

bool samePixels(const QImage& actual, const QImage& expected, QString* where)
{
    if (actual.size() != expected.size()) {
        *where = QStringLiteral("size %1x%2, expected %3x%4")
                     .arg(actual.width())
                     .arg(actual.height())
                     .arg(expected.width())
                     .arg(expected.height());
        return false;
    }
    const QImage a = actual.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage e = expected.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb pa = reinterpret_cast<const QRgb*>(a.constScanLine(y))[x];
            const QRgb pe = reinterpret_cast<const QRgb*>(e.constScanLine(y))[x];
            if (pa != pe) {
                *where = QStringLiteral("pixel %1,%2 is %3, expected %4")
                             .arg(x)
                             .arg(y)
                             .arg(pa, 8, 16, QLatin1Char('0'))
                             .arg(pe, 8, 16, QLatin1Char('0'));
                return false;
            }
        }
    return true;
}

#define COMPARE_PIXELS(actual, expected)                                                           \
    do {                                                                                           \
        QString where;                                                                             \
        if (!samePixels(actual, expected, &where))                                                 \
            QFAIL(qPrintable(where));                                                              \
    } while (false)

QRgb at(const QImage& image, int x, int y)
{
    return reinterpret_cast<const QRgb*>(
        image.convertToFormat(QImage::Format_ARGB32_Premultiplied).constScanLine(y))[x];
}

} // namespace

Q_DECLARE_METATYPE(std::optional<QColor>)

class TestComposite : public QObject {
    Q_OBJECT
private slots:
    void composite_data();
    void composite();
    void transparentBackgroundCutsFrameOut();
    void alphaFrameKeepsItsColours();
    void turnDecision_data();
    void turnDecision();
    void turnedFrames_data();
    void turnedFrames();
    void previewAndExportTurnAlike();
    void autoRotateChangeShowsAtNextRedraw();
    void cacheIsReusedWhileInputsStay();
    void previewMatchesFullResolution();
    void bandsGiveIdenticalResults();
    void offsets();
    void fullResolutionOffsetMovesPhoto();
    void stretcher();
    void badInput();
};

void TestComposite::composite_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<std::optional<QColor>>("color");
    QTest::addColumn<bool>("withPostMask");
    QTest::addColumn<QPointF>("offset");
    QTest::addColumn<bool>("photoAlpha");
    const std::optional<QColor> none;
    const std::optional<QColor> white = QColor(Qt::white);
    const std::optional<QColor> teal = QColor(20, 140, 160);
    const std::optional<QColor> halfRed = QColor(200, 0, 0, 128);
    const struct {
        FrameKind kind;
        const char* name;
    } kinds[] = {{NoFrame, "no frame"},
                 {GrayMask, "gray mask"},
                 {RgbMask, "rgb mask"},
                 {AlphaFrame, "alpha frame"},
                 {Unsupported, "unsupported"}};
    for (const auto& k : kinds) {
        QTest::addRow("%s, colour", k.name) << int(k.kind) << teal << false << QPointF() << false;
        QTest::addRow("%s, transparent", k.name)
            << int(k.kind) << none << false << QPointF() << false;
        QTest::addRow("%s, post mask, colour", k.name)
            << int(k.kind) << white << true << QPointF() << false;
        QTest::addRow("%s, post mask, transparent", k.name)
            << int(k.kind) << none << true << QPointF() << false;
        QTest::addRow("%s, offset uncovers, colour", k.name)
            << int(k.kind) << teal << false << QPointF(3, 2) << false;
        QTest::addRow("%s, offset uncovers, post mask, colour", k.name)
            << int(k.kind) << teal << true << QPointF(-4, -1) << false;
        QTest::addRow("%s, photo with alpha, translucent colour", k.name)
            << int(k.kind) << halfRed << true << QPointF(1, 1) << true;
        QTest::addRow("%s, photo with alpha, transparent", k.name)
            << int(k.kind) << none << false << QPointF(0, -2) << true;
    }
}

void TestComposite::composite()
{
    QFETCH(int, kind);
    QFETCH(std::optional<QColor>, color);
    QFETCH(bool, withPostMask);
    QFETCH(QPointF, offset);
    QFETCH(bool, photoAlpha);
    const FrameKind frameKind = FrameKind(kind);
    const QImage photo = randomPhoto(14, 10, 21, photoAlpha);
    const QImage frame = makeFrame(frameKind, 14, 10);
    const QImage postMask = withPostMask ? randomPostMask(14, 10, 22) : QImage();

    const bool hasOverlay =
        frameKind == GrayMask || frameKind == RgbMask || frameKind == AlphaFrame;
    const bool usesPostMask = withPostMask && frameKind != NoFrame;
    const bool destOut = !color && !usesPostMask && frameKind != AlphaFrame;
    OverlayAt overlay;
    if (hasOverlay)
        overlay = [&](int x, int y) { return frameOverlayAt(frameKind, frame, x, y, color); };
    // The y of the offset grows upward; canvas rows grow downward.
    const QPoint shift(int(offset.x()), -int(offset.y()));
    const QImage expected = expectedComposite(photo, shift, overlay, destOut,
                                              usesPostMask ? postMask : QImage(), color);

    const QImage full = compositeFullResolution(photo, frame, postMask, color, offset, true, 1);
    COMPARE_PIXELS(full, expected);
    OverlayCache cache;
    const QImage preview = compositePreview(photo, photo.size(), frame, postMask, color, offset,
                                            true, cache, photo.size());
    COMPARE_PIXELS(preview, expected);
    QCOMPARE(cache.borderType, frameKind == NoFrame ? -1 : ImageProcessor::borderType(frame));
}

void TestComposite::transparentBackgroundCutsFrameOut()
{
    QImage photo(16, 12, QImage::Format_RGB32);
    photo.fill(qRgb(10, 200, 30));
    const QImage frame = grayFrame(16, 12);
    const QImage out = compositeFullResolution(photo, frame, QImage(), std::nullopt, {}, true);
    QCOMPARE(at(out, 0, 0), 0u);                // white mask: fully transparent
    QCOMPARE(at(out, 8, 6), qRgb(10, 200, 30)); // opening: the photo
    // With a colour the frame is painted instead.
    const QImage painted =
        compositeFullResolution(photo, frame, QImage(), QColor(Qt::white), {}, true);
    QCOMPARE(at(painted, 0, 0), qRgb(255, 255, 255));
}

void TestComposite::alphaFrameKeepsItsColours()
{
    const QImage photo = randomPhoto(14, 12, 31);
    const QImage frame = alphaFrame(14, 12);
    for (const std::optional<QColor>& color :
         {std::optional<QColor>(), std::optional<QColor>(QColor(Qt::blue))}) {
        const QImage out = compositeFullResolution(photo, frame, QImage(), color, {}, true);
        QCOMPARE(at(out, 0, 0), qRgb(150, 90, 30));
        QCOMPARE(at(out, 7, 6), photo.pixel(7, 6)); // opening
    }
}

void TestComposite::turnDecision_data()
{
    QTest::addColumn<QSize>("photo");
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<bool>("autoRotate");
    QTest::addColumn<bool>("turn");
    QTest::newRow("landscape photo, portrait frame")
        << QSize(30, 20) << QSize(20, 30) << true << true;
    QTest::newRow("setting off") << QSize(30, 20) << QSize(20, 30) << false << false;
    QTest::newRow("portrait photo, landscape frame")
        << QSize(20, 30) << QSize(30, 20) << true << true;
    QTest::newRow("same orientation") << QSize(30, 20) << QSize(300, 200) << true << false;
    QTest::newRow("square photo") << QSize(20, 20) << QSize(20, 30) << true << false;
    QTest::newRow("square frame") << QSize(30, 20) << QSize(25, 25) << true << false;
    QTest::newRow("1001x1000") << QSize(1001, 1000) << QSize(20, 30) << true << true;
}

void TestComposite::turnDecision()
{
    QFETCH(QSize, photo);
    QFETCH(QSize, frame);
    QFETCH(bool, autoRotate);
    QFETCH(bool, turn);
    QCOMPARE(shouldTurnFrame(photo, frame, autoRotate), turn);
}

void TestComposite::turnedFrames_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("withPostMask");
    QTest::newRow("gray mask") << int(GrayMask) << false;
    QTest::newRow("rgb mask, post mask") << int(RgbMask) << true;
    QTest::newRow("alpha frame") << int(AlphaFrame) << false;
    QTest::newRow("alpha frame, post mask") << int(AlphaFrame) << true;
}

void TestComposite::turnedFrames()
{
    QFETCH(int, kind);
    QFETCH(bool, withPostMask);
    const FrameKind frameKind = FrameKind(kind);
    // A portrait frame with a mark near its top right corner so the direction shows.
    QImage frame = makeFrame(frameKind, 10, 14);
    if (frameKind == AlphaFrame)
        frame.setPixel(8, 0, qRgba(0, 250, 0, 255));
    const QImage postMask = withPostMask ? randomPostMask(10, 14, 41) : QImage();
    const QImage photo = randomPhoto(14, 10, 42);
    const std::optional<QColor> color = QColor(250, 120, 0);

    // Mask overlays turn counter-clockwise: canvas (x, y) shows frame (w - 1 - y, x).
    // Alpha frames and post masks turn clockwise: canvas (x, y) shows frame (y, h - 1 - x).
    OverlayAt overlay = [&](int x, int y) {
        if (frameKind == AlphaFrame)
            return frameOverlayAt(frameKind, frame, y, 13 - x, color);
        return frameOverlayAt(frameKind, frame, 9 - y, x, color);
    };
    const QImage turnedMask = withPostMask ? ImageProcessor::rotateCW(postMask) : QImage();
    for (int y = 0; y < turnedMask.height(); ++y)
        for (int x = 0; x < turnedMask.width(); ++x)
            QCOMPARE(turnedMask.pixel(x, y), postMask.pixel(y, 13 - x));
    const QImage expected = expectedComposite(photo, {}, overlay, false, turnedMask, color);

    COMPARE_PIXELS(compositeFullResolution(photo, frame, postMask, color, {}, true, 1), expected);
    OverlayCache cache;
    COMPARE_PIXELS(compositePreview(photo, photo.size(), frame, postMask, color, {}, true, cache,
                                    photo.size()),
                   expected);
    QVERIFY(cache.turned);
}

void TestComposite::previewAndExportTurnAlike()
{
    // A 1001 x 1000 photo reduced to 400 x 400 in the view: the reduced copy is square, the
    // photo is not, and both must show the portrait frame turned.
    QImage frame(20, 40, QImage::Format_Grayscale8);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 20; ++x)
            frame.scanLine(y)[x] = x < 10 ? 255 : 0; // left half frame
    QVERIFY(!ImageProcessor::isInverseImage(frame));
    const std::optional<QColor> red = QColor(Qt::red);
    QImage photo(1001, 1000, QImage::Format_RGB32);
    photo.fill(qRgb(0, 0, 255));
    const QImage reduced = ImageProcessor::scaleImageToFit(photo, QSize(400, 400));
    QCOMPARE(reduced.size(), QSize(400, 400));

    OverlayCache cache;
    const QImage preview = compositePreview(reduced, photo.size(), frame, QImage(), red, {}, true,
                                            cache, QSize(400, 400));
    const QImage full = compositeFullResolution(photo, frame, QImage(), red, {}, true);
    // Turned counter-clockwise, the frame's left half lies along the bottom.
    QCOMPARE(at(preview, 20, 380), qRgb(255, 0, 0));
    QCOMPARE(at(preview, 20, 20), qRgb(0, 0, 255));
    QCOMPARE(at(full, 50, 950), qRgb(255, 0, 0));
    QCOMPARE(at(full, 50, 50), qRgb(0, 0, 255));
}

void TestComposite::autoRotateChangeShowsAtNextRedraw()
{
    const QImage photo = randomPhoto(30, 20, 51);
    const QImage frame = grayFrame(20, 30);
    const std::optional<QColor> color = QColor(Qt::white);
    OverlayCache cache;
    const QImage turned = compositePreview(photo, photo.size(), frame, QImage(), color, {}, true,
                                           cache, photo.size());
    QVERIFY(cache.turned);
    // Same cache, no clear(): the next redraw follows the setting.
    const QImage straight = compositePreview(photo, photo.size(), frame, QImage(), color, {}, false,
                                             cache, photo.size());
    QVERIFY(!cache.turned);
    OverlayCache fresh;
    COMPARE_PIXELS(straight, compositePreview(photo, photo.size(), frame, QImage(), color, {},
                                              false, fresh, photo.size()));
    QVERIFY(turned != straight);
}

void TestComposite::cacheIsReusedWhileInputsStay()
{
    const QImage photo = randomPhoto(30, 20, 61);
    const QImage frame = grayFrame(300, 200);
    const QImage postMask = randomPostMask(300, 200, 62);
    OverlayCache cache;
    compositePreview(photo, QSize(3000, 2000), frame, postMask, QColor(Qt::white), {}, true, cache,
                     QSize(60, 40));
    QCOMPARE(cache.overlay.size(), QSize(60, 40));
    QCOMPARE(cache.smallPostMask.size(), QSize(60, 40));
    const qint64 overlayKey = cache.overlay.cacheKey();
    const qint64 stretchedKey = cache.stretchedOverlay.cacheKey();
    compositePreview(photo, QSize(3000, 2000), frame, postMask, QColor(Qt::white), QPointF(5, 3),
                     true, cache, QSize(60, 40));
    QCOMPARE(cache.overlay.cacheKey(), overlayKey);
    QCOMPARE(cache.stretchedOverlay.cacheKey(), stretchedKey);
    // Another colour rebuilds.
    compositePreview(photo, QSize(3000, 2000), frame, postMask, QColor(Qt::black), {}, true, cache,
                     QSize(60, 40));
    QVERIFY(cache.overlay.cacheKey() != overlayKey);
    cache.clear();
    QVERIFY(!cache.built && cache.overlay.isNull() && cache.borderType == -1);
}

void TestComposite::previewMatchesFullResolution()
{
    // A frame that fits the view is not reduced, so both paths stretch the same overlay.
    const QImage photo = randomPhoto(40, 28, 71);
    for (FrameKind kind : {GrayMask, AlphaFrame}) {
        const QImage frame = makeFrame(kind, 17, 11);
        const QImage postMask = randomPostMask(9, 13, 72);
        OverlayCache cache;
        const QImage preview =
            compositePreview(photo, photo.size(), frame, postMask, QColor(Qt::yellow),
                             QPointF(3, -2), true, cache, photo.size());
        const QImage full = compositeFullResolution(photo, frame, postMask, QColor(Qt::yellow),
                                                    QPointF(3, -2), true);
        COMPARE_PIXELS(preview, full);
    }
}

void TestComposite::bandsGiveIdenticalResults()
{
    const QImage photo = randomPhoto(331, 517, 81, true);
    const QImage frames[] = {grayFrame(37, 23), alphaFrame(500, 700), rgbFrame(331, 517)};
    for (const QImage& frame : frames) {
        const QImage postMask = randomPostMask(50, 71, 82);
        const QImage one = compositeFullResolution(photo, frame, postMask, QColor(Qt::cyan),
                                                   QPointF(13.4, -7.6), true, 1);
        for (int bands : {2, 3, 7, 0}) {
            const QImage many = compositeFullResolution(photo, frame, postMask, QColor(Qt::cyan),
                                                        QPointF(13.4, -7.6), true, bands);
            QVERIFY(one == many);
        }
    }
}

void TestComposite::offsets()
{
    QCOMPARE(previewOffset(QPointF(30, 0), QPointF(15, 5), QPointF(10, 2)), QPointF(35, 3));
    QCOMPARE(previewOffset(QPointF(-4, 6), QPointF(), QPointF()), QPointF(-4, 6));
    QCOMPARE(fullResolutionOffset(QPointF(20, -10), 3000, 600), QPointF(100, -50));
    // One ratio, from the widths, for both axes.
    QCOMPARE(fullResolutionOffset(QPointF(3, 3), 1000, 500), QPointF(6, 6));
    QCOMPARE(fullResolutionOffset(QPointF(7, 8), 1000, 0), QPointF(7, 8));
    // 30 right at a reduced width of 400, or 60 right after a re-fit to 800: the same place.
    QCOMPARE(fullResolutionOffset(QPointF(30, 0), 4000, 400),
             fullResolutionOffset(QPointF(60, 0), 4000, 800));
    QCOMPARE(canvasOffset(QPointF(20, -10)), QPoint(20, 10));
    QCOMPARE(canvasOffset(QPointF(2.6, 0.4)), QPoint(3, 0));
    QCOMPARE(canvasOffset(QPointF(1e300, -1e300)), QPoint(1 << 30, 1 << 30));
    QCOMPARE(canvasOffset(QPointF(std::nan(""), 1)), QPoint());
}

void TestComposite::fullResolutionOffsetMovesPhoto()
{
    // A 30 x 20 photo shown 6 wide with the translation (2, -1) moves by (10, -5) pixels:
    // right by 10 and, y growing upward, down by 5.
    const QImage photo = randomPhoto(30, 20, 91);
    const QPointF offset = fullResolutionOffset(QPointF(2, -1), 30, 6);
    const QImage out =
        compositeFullResolution(photo, QImage(), QImage(), QColor(Qt::white), offset, true);
    QCOMPARE(at(out, 10, 5), photo.pixel(0, 0));
    QCOMPARE(at(out, 29, 19), photo.pixel(19, 14));
    QCOMPARE(at(out, 9, 10), 0u); // uncovered: transparent without a post mask
    QCOMPARE(at(out, 15, 4), 0u);
    // With a post mask the colour fills uncovered canvas too.
    QImage clear(4, 4, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    const QImage filled =
        compositeFullResolution(photo, grayFrame(30, 20), clear, QColor(Qt::white), offset, true);
    QCOMPARE(at(filled, 12, 4), qRgb(255, 255, 255));
    QCOMPARE(at(filled, 15, 10), photo.pixel(5, 5));
}

void TestComposite::stretcher()
{
    QImage two(2, 1, QImage::Format_Alpha8);
    two.scanLine(0)[0] = 0;
    two.scanLine(0)[1] = 200;
    const QImage wide = ImageStretcher(two, QSize(4, 1)).stretched();
    QCOMPARE(wide.size(), QSize(4, 1));
    const uchar* row = wide.constScanLine(0);
    QCOMPARE(int(row[0]), 0);
    QCOMPARE(int(row[1]), 50);
    QCOMPARE(int(row[2]), 150);
    QCOMPARE(int(row[3]), 200);
    const QImage back = ImageStretcher(wide, QSize(2, 1)).stretched();
    QCOMPARE(int(back.constScanLine(0)[0]), 25);
    QCOMPARE(int(back.constScanLine(0)[1]), 175);

    QImage flat(7, 5, QImage::Format_ARGB32_Premultiplied);
    flat.fill(qPremultiply(qRgba(90, 30, 200, 160)));
    for (QSize size : {QSize(7, 5), QSize(23, 3), QSize(2, 19), QSize(1, 1)}) {
        const QImage s = ImageStretcher(flat, size).stretched();
        QCOMPARE(s.size(), size);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                QCOMPARE(at(s, x, y), qPremultiply(qRgba(90, 30, 200, 160)));
    }
    // A strong reduction averages whole areas.
    QImage tall(3, 400, QImage::Format_Alpha8);
    for (int y = 0; y < 400; ++y)
        std::fill_n(tall.scanLine(y), 3, uchar(y < 200 ? 100 : 200));
    const QImage reducedTall = ImageStretcher(tall, QSize(1, 2)).stretched();
    QCOMPARE(int(reducedTall.constScanLine(0)[0]), 100);
    QCOMPARE(int(reducedTall.constScanLine(1)[0]), 200);
    QCOMPARE(int(ImageStretcher(tall, QSize(1, 1)).stretched().constScanLine(0)[0]), 150);

    // Rows asked for out of order come out the same.
    const QImage photo = randomPhoto(9, 6, 92).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage whole = ImageStretcher(photo, QSize(20, 17)).stretched();
    ImageStretcher single(photo, QSize(20, 17));
    QImage row11(20, 1, QImage::Format_ARGB32_Premultiplied);
    single.stretchRow(11, row11.scanLine(0));
    single.stretchRow(2, row11.scanLine(0));
    single.stretchRow(11, row11.scanLine(0));
    COMPARE_PIXELS(row11, whole.copy(0, 11, 20, 1));
}

void TestComposite::badInput()
{
    const QImage photo = randomPhoto(12, 9, 101);
    const std::optional<QColor> blue = QColor(Qt::blue);
    // Zero-size frame: the photo alone, post mask unused.
    QImage out = compositeFullResolution(photo, QImage(0, 0, QImage::Format_Grayscale8),
                                         randomPostMask(5, 5, 102), blue, {}, true);
    COMPARE_PIXELS(out, photo);
    OverlayCache cache;
    out = compositePreview(photo, QSize(), QImage(), QImage(), blue, {}, true, cache);
    COMPARE_PIXELS(out, photo);

    // Zero-size post mask: as if there were none.
    const QImage frame = grayFrame(12, 9);
    COMPARE_PIXELS(
        compositeFullResolution(photo, frame, QImage(), blue, {}, true),
        compositeFullResolution(photo, frame, QImage(0, 3, QImage::Format_ARGB32), blue, {}, true));

    // A post mask of another size than the frame is stretched like it: fully opaque, it
    // leaves the colour everywhere.
    QImage opaque(3, 40, QImage::Format_ARGB32);
    opaque.fill(qRgba(0, 0, 0, 255));
    out = compositeFullResolution(photo, frame, opaque, blue, {}, true);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 12; ++x)
            QCOMPARE(at(out, x, y), qRgb(0, 0, 255));

    // A 1x1 white mask covers everything with the colour.
    QImage dot(1, 1, QImage::Format_Grayscale8);
    dot.fill(255);
    out = compositeFullResolution(photo, dot, QImage(), QColor(Qt::green), {}, true);
    QCOMPARE(at(out, 0, 0), qRgb(0, 255, 0));
    QCOMPARE(at(out, 11, 8), qRgb(0, 255, 0));
    out = compositePreview(photo, photo.size(), dot, dot, QColor(Qt::green), {}, true, cache);
    QCOMPARE(at(out, 6, 4), qRgb(0, 255, 0)); // a gray post mask is opaque: all cut, all refilled

    // A 1x1 photo under a large frame.
    const QImage tiny = randomPhoto(1, 1, 103);
    out = compositeFullResolution(tiny, grayFrame(150, 100), randomPostMask(150, 100, 104), blue,
                                  {}, true);
    QCOMPARE(out.size(), QSize(1, 1));
    out = compositePreview(tiny, tiny.size(), grayFrame(150, 100), QImage(), blue, {}, true, cache,
                           QSize(400, 300));
    QCOMPARE(out.size(), QSize(1, 1));

    // A 30000 x 20 photo: the white border shows at both ends.
    QImage strip(30000, 20, QImage::Format_RGB32);
    strip.fill(qRgb(9, 9, 9));
    out = compositeFullResolution(strip, grayFrame(150, 100), randomPostMask(40, 40, 105),
                                  QColor(Qt::white), {}, true);
    QCOMPARE(out.size(), QSize(30000, 20));
    QCOMPARE(at(out, 0, 10), qRgb(255, 255, 255));
    QCOMPARE(at(out, 29999, 10), qRgb(255, 255, 255));
    const QImage reducedStrip = ImageProcessor::scaleImageToFit(strip, QSize(1200, 800));
    QCOMPARE(reducedStrip.size(), QSize(1200, 1));
    out = compositePreview(reducedStrip, strip.size(), grayFrame(150, 100), QImage(),
                           QColor(Qt::white), {}, true, cache, QSize(1200, 800));
    QCOMPARE(out.size(), QSize(1200, 1));

    // No photo, an invalid colour, offsets far outside.
    QVERIFY(compositeFullResolution(QImage(), frame, QImage(), blue, {}, true).isNull());
    QVERIFY(compositePreview(QImage(), QSize(), frame, QImage(), blue, {}, true, cache).isNull());
    COMPARE_PIXELS(compositeFullResolution(photo, frame, QImage(), QColor(), {}, true),
                   compositeFullResolution(photo, frame, QImage(), std::nullopt, {}, true));
    out = compositeFullResolution(photo, QImage(), QImage(), blue, QPointF(1e12, -1e12), true);
    QCOMPARE(at(out, 5, 5), 0u);
}

QTEST_MAIN(TestComposite)
#include "test_composite.moc"
