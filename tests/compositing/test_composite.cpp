#include "PixelReference.h"
#include "compositing/BorderCompositor.h"
#include "compositing/FramedPhoto.h"
#include "compositing/ImageProcessor.h"
#include "compositing/ImageStretcher.h"

#include <QBuffer>
#include <QImageWriter>

using namespace BorderCompositor;
using namespace PixelReference;

namespace {

FramedPhoto framed(const QImage& photo, const QImage& frame, const QImage& postMask,
                   const std::optional<QColor>& color, QPointF offset = {}, bool autoRotate = true)
{
    FramedPhoto f;
    f.photo = photo;
    f.frame = frame;
    f.postMask = postMask;
    f.color = color;
    f.offset = offset;
    f.autoRotate = autoRotate;
    return f;
}

const QImage::Format RGB = QImage::Format_RGB32;
const QImage::Format ARGB = QImage::Format_ARGB32;

// Premultiplied per-channel blending, rounded to nearest.
QRgb times(QRgb p, int f)
{
    auto m = [f](int v) { return int(std::lround(v * f / 255.0)); };
    return qRgba(m(qRed(p)), m(qGreen(p)), m(qBlue(p)), m(qAlpha(p)));
}

QRgb plus(QRgb a, QRgb b)
{
    auto add = [](int x, int y) { return std::min(255, x + y); };
    return qRgba(add(qRed(a), qRed(b)), add(qGreen(a), qGreen(b)), add(qBlue(a), qBlue(b)),
                 add(qAlpha(a), qAlpha(b)));
}

enum FrameKind { NoFrame, GrayMask, RgbMask, AlphaFrame, Unsupported };

// Frames made from the gray frame mask, with a mark near the top right corner so that the
// direction of a turn shows.
QImage makeFrame(FrameKind kind, int w, int h)
{
    QImage frame = frameMask(w, h);
    if (kind == NoFrame || kind == Unsupported)
        return kind == NoFrame ? QImage() : frame.convertToFormat(QImage::Format_Grayscale16);
    frame.scanLine(0)[w - 2] = 77;
    if (kind == GrayMask)
        return frame;
    QImage out(w, h, kind == RgbMask ? RGB : ARGB);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v = frame.constScanLine(y)[x];
            out.setPixel(x, y,
                         kind == RgbMask ? qRgb(v, std::max(0, v - 30), std::min(255, v + 20))
                                         : qRgba(150, 90 + v / 4, 30, v));
        }
    return out;
}

// The overlay a frame must give at its own size: mask frames tinted and turned
// counter-clockwise, alpha frames as they are and turned clockwise.
QImage expectedFrameOverlay(FrameKind kind, const QImage& frame, const std::optional<QColor>& color,
                            bool turn)
{
    if (kind == GrayMask || kind == RgbMask)
        return expectedOverlay(frame, components(color), false, turn);
    if (kind != AlphaFrame)
        return {};
    const QImage overlay = frame.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return turn ? turned(overlay, true) : overlay;
}

// Layers of the canvas's size; `shift` in canvas pixels, y down.
QImage expectedComposite(const QImage& photo, QPoint shift, const QImage& overlay,
                         bool destinationOut, const QImage& postMask,
                         const std::optional<QColor>& color)
{
    QImage out(photo.size(), QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) {
            const QPoint p = QPoint(x, y) - shift;
            QRgb d = photo.rect().contains(p) ? premultipliedAt(photo, p.x(), p.y()) : 0;
            if (!overlay.isNull()) {
                const QRgb o = premultipliedAt(overlay, x, y);
                d = destinationOut ? times(d, 255 - qAlpha(o)) : plus(o, times(d, 255 - qAlpha(o)));
            }
            if (!postMask.isNull()) {
                d = times(d, 255 - qAlpha(postMask.pixel(x, y)));
                if (color)
                    d = plus(d, times(qPremultiply(color->rgba()), 255 - qAlpha(d)));
            }
            word(out, x, y) = d;
        }
    return out;
}

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

class TestComposite : public QObject {
    Q_OBJECT
private slots:
    void composite_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<std::optional<QColor>>("color");
        QTest::addColumn<bool>("withPostMask");
        QTest::addColumn<QPointF>("offset");
        QTest::addColumn<bool>("photoAlpha");
        QTest::addColumn<bool>("turn");
        const std::optional<QColor> none, white = QColor(Qt::white), teal = QColor(20, 140, 160);
        const std::optional<QColor> halfRed = QColor(200, 0, 0, 128);
        const char* names[] = {"no frame", "gray mask", "rgb mask", "alpha frame", "unsupported"};
        for (int k = NoFrame; k <= Unsupported; ++k) {
            auto row = [&](const char* what, std::optional<QColor> color, bool postMask,
                           QPointF offset = {}, bool photoAlpha = false, bool turn = false) {
                QTest::addRow("%s, %s", names[k], what)
                    << k << color << postMask << offset << photoAlpha << turn;
            };
            row("colour", teal, false);
            row("transparent", none, false);
            row("post mask, colour", white, true);
            row("post mask, transparent", none, true);
            row("offset uncovers", teal, false, {3, 2});
            row("offset uncovers, post mask", teal, true, {-4, -1});
            row("photo alpha, translucent colour", halfRed, true, {1, 1}, true);
            if (k != NoFrame && k != Unsupported) {
                row("turned", teal, false, {}, false, true);
                row("turned, post mask", halfRed, true, {2, 1}, false, true);
            }
        }
    }

    void composite()
    {
        QFETCH(int, kind);
        QFETCH(std::optional<QColor>, color);
        QFETCH(bool, withPostMask);
        QFETCH(QPointF, offset);
        QFETCH(bool, photoAlpha);
        QFETCH(bool, turn);
        // A portrait frame turns over the landscape photo (an alpha frame clockwise, a mask
        // the other way), and its post mask turns with it so that its holes stay put.
        const int w = turn ? 10 : 14, h = turn ? 14 : 10;
        const QImage photo = randomImage(14, 10, photoAlpha ? ARGB : RGB, 21);
        const QImage frame = makeFrame(FrameKind(kind), w, h);
        const QImage postMask = withPostMask ? randomImage(w, h, ARGB, 22) : QImage();
        // The post mask needs a frame; destination-out only for a mask frame with neither
        // colour nor post mask; the y of the offset grows upward.
        const bool usesPostMask = withPostMask && kind != NoFrame;
        const bool destinationOut = !color && !usesPostMask && kind != AlphaFrame;
        const QImage expected = expectedComposite(
            photo, QPoint(int(offset.x()), -int(offset.y())),
            expectedFrameOverlay(FrameKind(kind), frame, color, turn), destinationOut,
            usesPostMask ? (turn ? turned(postMask, kind == AlphaFrame) : postMask) : QImage(),
            color);

        COMPARE_PIXELS(compositeFullResolution(framed(photo, frame, postMask, color, offset), 1),
                       expected);
        OverlayCache cache;
        COMPARE_PIXELS(compositePreview(framed(photo, frame, postMask, color), photo, offset, cache,
                                        photo.size()),
                       expected);
    }

    void turnDecision()
    {
        // photo, frame, the AutoRotateBorder setting, turned
        const std::tuple<QSize, QSize, bool, bool> rows[] = {
            {{30, 20}, {20, 30}, true, true},    {{30, 20}, {20, 30}, false, false},
            {{20, 30}, {30, 20}, true, true},    {{30, 20}, {300, 200}, true, false},
            {{20, 20}, {20, 30}, true, false},   {{30, 20}, {25, 25}, true, false},
            {{1001, 1000}, {20, 30}, true, true}};
        for (const auto& [photo, frame, autoRotate, turn] : rows)
            QVERIFY2(shouldTurnFrame(photo, frame, autoRotate) == turn,
                     qPrintable(QStringLiteral("%1x%2").arg(photo.width()).arg(photo.height())));
    }

    void cacheFollowsInputs()
    {
        // One cache through a drag step, a change of AutoRotateBorder and a change of colour,
        // never cleared: each redraw must equal one from a fresh cache, and only the drag step
        // may reuse the view-size overlay. The photo is 1001 x 1000, its reduced copy square:
        // the full photo decides the turn, as it does in the export.
        const QImage photo = randomImage(40, 40, RGB, 51);
        const QImage full(1001, 1000, RGB); // only its size counts
        const QImage frame = frameMask(200, 300);
        const QImage postMask = randomImage(200, 300, ARGB, 52);
        const std::tuple<QColor, QPointF, bool, bool> steps[] = {{Qt::white, {}, true, true},
                                                                 {Qt::white, {5, 3}, true, false},
                                                                 {Qt::white, {5, 3}, false, true},
                                                                 {Qt::black, {5, 3}, false, true}};
        OverlayCache cache;
        qint64 key = 0;
        for (const auto& [color, offset, autoRotate, rebuilds] : steps) {
            auto redraw = [&](OverlayCache& c) {
                return compositePreview(framed(full, frame, postMask, color, {}, autoRotate), photo,
                                        offset, c, QSize(60, 40));
            };
            const QImage shown = redraw(cache);
            OverlayCache fresh;
            COMPARE_PIXELS(shown, redraw(fresh));
            QCOMPARE(cache.turned, autoRotate);
            QCOMPARE(cache.overlay.cacheKey() != key, rebuilds);
            key = cache.overlay.cacheKey();
        }
        cache.clear();
        QVERIFY(!cache.built && cache.overlay.isNull() && cache.borderType == -1);
    }

    void bandsAndPreviewAgree()
    {
        // Frames of other sizes than the photo, stretched. The full-resolution result must
        // not depend on the number of bands, nor differ from a preview whose view is large
        // enough to keep the overlay unreduced.
        const QImage photo = randomImage(331, 517, ARGB, 81);
        const QImage postMask = randomImage(50, 71, ARGB, 82);
        for (const QImage& frame : {makeFrame(GrayMask, 37, 23), makeFrame(AlphaFrame, 500, 700),
                                    makeFrame(RgbMask, 331, 517)}) {
            auto render = [&](int bands) {
                return compositeFullResolution(
                    framed(photo, frame, postMask, QColor(Qt::cyan), QPointF(13.4, -7.6)), bands);
            };
            const QImage one = render(1);
            for (int bands : {2, 3, 0})
                QVERIFY(render(bands) == one);
            OverlayCache cache;
            COMPARE_PIXELS(compositePreview(framed(photo, frame, postMask, QColor(Qt::cyan)), photo,
                                            QPointF(13.4, -7.6), cache, QSize(800, 800)),
                           one);
        }
    }

    void offsets()
    {
        QCOMPARE(scaledOffset(QPointF(20, -10), 600, 3000), QPointF(100, -50));
        QCOMPARE(scaledOffset(QPointF(100, -50), 3000, 600), QPointF(20, -10));
        // One ratio, from the widths, for both axes.
        QCOMPARE(scaledOffset(QPointF(3, 3), 500, 1000), QPointF(6, 6));
        QCOMPARE(scaledOffset(QPointF(7, 8), 0, 1000), QPointF(7, 8));
        QCOMPARE(canvasOffset(QPointF(20, -10)), QPoint(20, 10));
        QCOMPARE(canvasOffset(QPointF(2.6, 0.4)), QPoint(3, 0));
        QCOMPARE(canvasOffset(QPointF(1e300, -1e300)), QPoint(1 << 30, 1 << 30));
        QCOMPARE(canvasOffset(QPointF(std::nan(""), 1)), QPoint());
    }

    void stretcher()
    {
        auto alphaRow = [](const QImage& image, int y) {
            const uchar* row = image.constScanLine(y);
            return QList<int>(row, row + image.width());
        };
        // Linear between pixel centres along a growing axis, the edges repeated; area
        // averages along a shrinking one.
        QImage two(2, 1, QImage::Format_Alpha8);
        two.scanLine(0)[0] = 0;
        two.scanLine(0)[1] = 255;
        const QImage wide = ImageStretcher(two, QSize(20, 1)).stretched();
        QCOMPARE(alphaRow(wide, 0), (QList<int>{0,   0,   0,   0,   0,   13,  38,  64,  89,  115,
                                                140, 166, 191, 217, 242, 255, 255, 255, 255, 255}));
        QCOMPARE(alphaRow(ImageStretcher(wide, QSize(2, 1)).stretched(), 0), (QList<int>{32, 223}));
        QImage tall(3, 400, QImage::Format_Alpha8);
        for (int y = 0; y < 400; ++y)
            std::fill_n(tall.scanLine(y), 3, uchar(y < 200 ? 100 : 200));
        const QImage halves = ImageStretcher(tall, QSize(1, 2)).stretched();
        QCOMPARE(alphaRow(halves, 0) + alphaRow(halves, 1), (QList<int>{100, 200}));
        QCOMPARE(alphaRow(ImageStretcher(tall, QSize(1, 1)).stretched(), 0), QList<int>{150});

        // A flat colour stays exactly that colour at any size.
        QImage flat(7, 5, QImage::Format_ARGB32_Premultiplied);
        flat.fill(qPremultiply(qRgba(90, 30, 200, 160)));
        for (QSize size : {QSize(7, 5), QSize(23, 3), QSize(2, 19), QSize(1, 1)}) {
            QImage expected(size, QImage::Format_ARGB32_Premultiplied);
            expected.fill(flat.pixel(0, 0));
            COMPARE_PIXELS(ImageStretcher(flat, size).stretched(), expected);
        }

        // Any row can be asked for on its own, out of order too.
        const QImage photo = randomImage(9, 6, RGB, 92);
        const QImage whole = ImageStretcher(photo, QSize(20, 17)).stretched();
        ImageStretcher single(photo, QSize(20, 17));
        QImage row(20, 1, QImage::Format_ARGB32_Premultiplied);
        for (int y : {11, 2, 11})
            single.stretchRow(y, row.scanLine(0));
        COMPARE_PIXELS(row, whole.copy(0, 11, 20, 1));
    }

    void badInput_data()
    {
        QTest::addColumn<QImage>("photo");
        QTest::addColumn<QImage>("frame");
        QTest::addColumn<QImage>("postMask");
        QTest::addColumn<std::optional<QColor>>("color");
        QTest::addColumn<QPointF>("offset");
        QTest::addColumn<QImage>("expected"); // null: only the photo's size is sure
        const QImage photo = randomImage(12, 9, RGB, 101);
        const QImage frame = frameMask(12, 9);
        const std::optional<QColor> blue = QColor(Qt::blue), green = QColor(Qt::green);
        auto flat = [&photo](QRgb color) {
            QImage image(photo.size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(color);
            return image;
        };
        QImage opaque(3, 40, ARGB);
        opaque.fill(qRgba(0, 0, 0, 255));
        const QImage dot = frameMask(1, 1);
        const QImage cutOut = expectedComposite(photo, {}, expectedOverlay(frame, {}, false, false),
                                                true, QImage(), std::nullopt);
        // The post mask is not used without a frame; a post mask of another size than the
        // frame is stretched like it (fully opaque, it leaves the colour everywhere); a
        // gray post mask is opaque.
        auto row = [](const char* tag, const QImage& p, const QImage& f, const QImage& postMask,
                      std::optional<QColor> color, QPointF offset, const QImage& expected) {
            QTest::newRow(tag) << p << f << postMask << color << offset << expected;
        };
        const QImage gray0(0, 0, QImage::Format_Grayscale8), none;
        row("zero-size frame", photo, gray0, randomImage(5, 5, ARGB, 102), blue, {}, photo);
        row("zero-size post mask", photo, frame, QImage(0, 3, ARGB), {}, {}, cutOut);
        row("post mask of another size", photo, frame, opaque, blue, {}, flat(qRgb(0, 0, 255)));
        row("1x1 mask", photo, dot, none, green, {}, flat(qRgb(0, 255, 0)));
        row("1x1 post mask", photo, frame, dot, green, {}, flat(qRgb(0, 255, 0)));
        row("1x1 photo", randomImage(1, 1, RGB, 103), frameMask(150, 100),
            randomImage(150, 100, ARGB, 104), blue, {}, none);
        row("invalid colour", photo, frame, none, QColor(), {}, cutOut);
        row("offset far outside", photo, none, none, blue, {1e12, -1e12}, flat(0));
        row("1200x1 photo", randomImage(1200, 1, RGB, 106), frameMask(150, 100), none, blue, {},
            none);
        row("no photo", none, frame, none, blue, {}, none);
    }

    void badInput()
    {
        QFETCH(QImage, photo);
        QFETCH(QImage, frame);
        QFETCH(QImage, postMask);
        QFETCH(std::optional<QColor>, color);
        QFETCH(QPointF, offset);
        QFETCH(QImage, expected);
        OverlayCache cache;
        for (const QImage& out :
             {compositeFullResolution(framed(photo, frame, postMask, color, offset)),
              compositePreview(framed(photo, frame, postMask, color), photo, offset, cache,
                               QSize(400, 300))}) {
            QCOMPARE(out.size(), photo.size());
            if (!expected.isNull())
                COMPARE_PIXELS(out, expected);
        }
    }

    void veryWidePhoto()
    {
        // 30000 x 20 under a 150 x 100 frame: the white border shows at both ends.
        QImage strip(30000, 20, RGB);
        strip.fill(qRgb(9, 9, 9));
        const QImage out = compositeFullResolution(
            framed(strip, frameMask(150, 100), randomImage(40, 40, ARGB, 105), Qt::white));
        QCOMPARE(out.size(), strip.size());
        QCOMPARE(premultipliedAt(out, 0, 10), qRgb(255, 255, 255));
        QCOMPARE(premultipliedAt(out, 29999, 10), qRgb(255, 255, 255));
    }

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
        // Masks are 8-bit gray or colour without alpha; 16-bit gray is not read as a frame.
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

QTEST_MAIN(TestComposite)
#include "test_composite.moc"
