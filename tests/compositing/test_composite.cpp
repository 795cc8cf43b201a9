#include "PixelReference.h"
#include "compositing/BorderCompositor.h"
#include "compositing/FramedPhoto.h"
#include "compositing/ImageProcessor.h"
#include "compositing/ImageStretcher.h"

#include <QBuffer>

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

const QImage::Format RGB = QImage::Format_RGB32, ARGB = QImage::Format_ARGB32,
                     Gray = QImage::Format_Grayscale8;

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

QImage encodedAndDecoded(const QImage& image, const char* format)
{
    QByteArray data;
    QBuffer buffer(&data);
    return buffer.open(QIODevice::WriteOnly) && image.save(&buffer, format)
               ? QImage::fromData(data, format)
               : QImage();
}

// An Indexed8 image with the gray levels in its palette, in reverse order when asked.
QImage grayIndexed(QSize size, bool reversed = false)
{
    QImage image(size, QImage::Format_Indexed8);
    for (int i = 0; i < 256; ++i)
        image.setColor(i, reversed ? qRgb(255 - i, 255 - i, 255 - i) : qRgb(i, i, i));
    return image;
}

} // namespace

class TestComposite : public QObject {
    Q_OBJECT
private slots:
    void composite()
    {
        const std::optional<QColor> none, white = QColor(Qt::white), teal = QColor(20, 140, 160);
        const std::optional<QColor> halfRed = QColor(200, 0, 0, 128);
        // what, colour, post mask, offset, photo with alpha, turned
        const std::tuple<const char*, std::optional<QColor>, bool, QPointF, bool, bool> cases[] = {
            {"colour", teal, false, {}, false, false},
            {"transparent", none, false, {}, false, false},
            {"post mask, colour", white, true, {}, false, false},
            {"post mask, transparent", none, true, {}, false, false},
            {"offset uncovers", teal, false, {3, 2}, false, false},
            {"offset uncovers, post mask", teal, true, {-4, -1}, false, false},
            {"photo alpha, translucent colour", halfRed, true, {1, 1}, true, false},
            {"turned", teal, false, {}, false, true},
            {"turned, post mask", halfRed, true, {2, 1}, false, true}};
        const char* names[] = {"no frame", "gray mask", "rgb mask", "alpha frame", "unsupported"};
        for (int kind = NoFrame; kind <= Unsupported; ++kind) {
            for (const auto& [what, color, withPostMask, offset, photoAlpha, turn] : cases) {
                if (turn && (kind == NoFrame || kind == Unsupported))
                    continue;
                const QString tag = QString("%1, %2:").arg(names[kind], what);
                // A portrait frame turns over the landscape photo (an alpha frame clockwise, a
                // mask the other way), and its post mask turns with it so its holes stay put.
                const int w = turn ? 10 : 14, h = turn ? 14 : 10;
                const QImage photo = randomImage(14, 10, photoAlpha ? ARGB : RGB, 21);
                const QImage frame = makeFrame(FrameKind(kind), w, h);
                const QImage postMask = withPostMask ? randomImage(w, h, ARGB, 22) : QImage();
                // The post mask needs a frame; destination-out only for a mask frame with
                // neither colour nor post mask; the y of the offset grows upward.
                const bool usesPostMask = withPostMask && kind != NoFrame;
                const bool destinationOut = !color && !usesPostMask && kind != AlphaFrame;
                const QImage expected = expectedComposite(
                    photo, QPoint(int(offset.x()), -int(offset.y())),
                    expectedFrameOverlay(FrameKind(kind), frame, color, turn), destinationOut,
                    usesPostMask ? (turn ? turned(postMask, kind == AlphaFrame) : postMask)
                                 : QImage(),
                    color);
                COMPARE_PIXELS(
                    compositeFullResolution(framed(photo, frame, postMask, color, offset), 1),
                    expected, tag);
                OverlayCache cache;
                COMPARE_PIXELS(compositePreview(framed(photo, frame, postMask, color), photo,
                                                offset, cache, photo.size()),
                               expected, tag);
            }
        }
    }

    void placement()
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
        // Offsets between view and photo pixels, one ratio from the widths for both axes.
        QCOMPARE(
            QList({scaledOffset(QPointF(20, -10), 600, 3000),
                   scaledOffset(QPointF(100, -50), 3000, 600),
                   scaledOffset(QPointF(3, 3), 500, 1000), scaledOffset(QPointF(7, 8), 0, 1000)}),
            QList<QPointF>({{100, -50}, {20, -10}, {6, 6}, {7, 8}}));
        // On the canvas: whole pixels, y down, bounded.
        QCOMPARE(
            QList({canvasOffset(QPointF(20, -10)), canvasOffset(QPointF(2.6, 0.4)),
                   canvasOffset(QPointF(1e300, -1e300)), canvasOffset(QPointF(std::nan(""), 1))}),
            QList<QPoint>({{20, 10}, {3, 0}, {1 << 30, 1 << 30}, {}}));
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

    void stretcher()
    {
        auto alphaRow = [](const QImage& image, int y) {
            const uchar* row = image.constScanLine(y);
            return QList<int>(row, row + image.width());
        };
        // Linear between pixel centres along a growing axis, the edges repeated; area
        // averages along a shrinking one.
        QImage two(2, 1, QImage::Format_Alpha8);
        two.fill(0);
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
        for (QSize size : {QSize(7, 5), QSize(23, 3), QSize(2, 19), QSize(1, 1)})
            COMPARE_PIXELS(ImageStretcher(flat, size).stretched(), flat.scaled(size));

        // Any row can be asked for on its own, out of order too.
        const QImage photo = randomImage(9, 6, RGB, 92);
        const QImage whole = ImageStretcher(photo, QSize(20, 17)).stretched();
        ImageStretcher single(photo, QSize(20, 17));
        QImage row(20, 1, QImage::Format_ARGB32_Premultiplied);
        for (int y : {11, 2, 11})
            single.stretchRow(y, row.scanLine(0));
        COMPARE_PIXELS(row, whole.copy(0, 11, 20, 1));
    }

    void badInput()
    {
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
        const QImage dot = frameMask(1, 1), gray0(0, 0, Gray), none;
        const QImage cutOut = expectedComposite(photo, {}, expectedOverlay(frame, {}, false, false),
                                                true, QImage(), std::nullopt);
        // The post mask is not used without a frame; a post mask of another size than the
        // frame is stretched like it (fully opaque, it leaves the colour everywhere); a gray
        // post mask is opaque. A null expectation: only the photo's size is sure.
        const std::tuple<const char*, QImage, QImage, QImage, std::optional<QColor>, QPointF,
                         QImage>
            rows[] = {
                {"zero-size frame", photo, gray0, randomImage(5, 5, ARGB, 102), blue, {}, photo},
                {"zero-size post mask", photo, frame, QImage(0, 3, ARGB), {}, {}, cutOut},
                {"post mask of another size", photo, frame, opaque, blue, {}, flat(0xff0000ff)},
                {"1x1 mask", photo, dot, none, green, {}, flat(0xff00ff00)},
                {"1x1 post mask", photo, frame, dot, green, {}, flat(0xff00ff00)},
                {"1x1 photo",
                 randomImage(1, 1, RGB, 103),
                 frameMask(150, 100),
                 randomImage(150, 100, ARGB, 104),
                 blue,
                 {},
                 none},
                {"invalid colour", photo, frame, none, QColor(), {}, cutOut},
                {"offset far outside", photo, none, none, blue, {1e12, -1e12}, flat(0)},
                {"1200x1 photo",
                 randomImage(1200, 1, RGB, 106),
                 frameMask(150, 100),
                 none,
                 blue,
                 {},
                 none},
                {"no photo", none, frame, none, blue, {}, none}};
        for (const auto& [tag, p, f, postMask, color, offset, expected] : rows) {
            OverlayCache cache;
            for (const QImage& out :
                 {compositeFullResolution(framed(p, f, postMask, color, offset)),
                  compositePreview(framed(p, f, postMask, color), p, offset, cache,
                                   QSize(400, 300))}) {
                QVERIFY2(out.size() == p.size(), tag);
                if (!expected.isNull())
                    COMPARE_PIXELS(out, expected, tag);
            }
        }
    }

    void veryWidePhoto()
    {
        // 30000 x 20 under a 150 x 100 frame: the white border shows at both ends.
        const QImage out =
            compositeFullResolution(framed(randomImage(30000, 20, RGB, 9), frameMask(150, 100),
                                           randomImage(40, 40, ARGB, 105), Qt::white));
        QCOMPARE(QList({premultipliedAt(out, 0, 10), premultipliedAt(out, 29999, 10)}),
                 QList({qRgb(255, 255, 255), qRgb(255, 255, 255)}));
    }

    void inverseDecision()
    {
        QImage flat(30, 20, Gray);
        flat.fill(128);
        const std::tuple<const char*, QImage, bool> rows[] = {
            {"white border", frameMask(30, 20, 5), false},
            {"black border", frameMask(30, 20, 5, true), true},
            {"equal sums", flat, false},
            {"1x1", frameMask(1, 1), false},
            {"2x2", frameMask(2, 2, 1), false},
            {"rgb light centre", frameMask(30, 20, 5, true).convertToFormat(QImage::Format_RGB888),
             true},
            {"null", QImage(), false}};
        for (const auto& [tag, mask, inverse] : rows)
            QVERIFY2(ImageProcessor::isInverseImage(mask) == inverse, tag);
    }

    void overlays()
    {
        const std::optional<QColor> none, tinted = QColor(51, 128, 204),
                                          cmyk = QColor::fromCmyk(0, 255, 102, 0);
        // Qt decodes masks to several layouts: the gray palette in an order unlike the gray
        // levels, and 24-bit RGB in either byte order.
        const QImage gray = randomImage(11, 6, Gray, 14), rgb = randomImage(9, 7, RGB, 15);
        QImage palette = grayIndexed(gray.size(), true);
        for (int y = 0; y < gray.height(); ++y)
            for (int x = 0; x < gray.width(); ++x)
                palette.scanLine(y)[x] = uchar(255 - gray.constScanLine(y)[x]);
        const std::tuple<const char*, QImage, std::optional<QColor>> rows[] = {
            {"gray, no colour", randomImage(13, 7, Gray, 1), none},
            {"gray, tinted", gray, tinted},
            {"gray palette", palette, tinted},
            {"gray inverse", frameMask(12, 9, 3, true), tinted},
            {"rgb, no colour", randomImage(6, 10, RGB, 5), none},
            {"rgb, tinted", rgb, tinted},
            {"rgb888", rgb.convertToFormat(QImage::Format_RGB888), tinted},
            {"bgr888", rgb.convertToFormat(QImage::Format_BGR888), tinted},
            {"1x1", frameMask(1, 1), tinted},
            // Other colour models are read as RGB, never through a missing component.
            {"cmyk colour", gray, cmyk}};
        for (const auto& [tag, mask, color] : rows) {
            const bool isGray = ImageProcessor::isGrayscaleMask(mask);
            const bool inverse = ImageProcessor::isInverseImage(ImageProcessor::maskBitmap(mask));
            for (bool turn : {false, true}) {
                const QImage overlay =
                    isGray ? (turn ? ImageProcessor::rotatedOverlayFromGrayscaleRep(mask, color)
                                   : ImageProcessor::overlayFromGrayscaleRep(mask, color))
                           : (turn ? ImageProcessor::rotatedOverlayFromRGBRep(mask, color)
                                   : ImageProcessor::overlayFromRGBRep(mask, color));
                QVERIFY2(overlay.format() == QImage::Format_ARGB32_Premultiplied, tag);
                COMPARE_PIXELS(overlay, expectedOverlay(mask, components(color), inverse, turn),
                               QString(tag) + (turn ? ", turned" : ""));
            }
        }
    }

    void borderType()
    {
        const QSize s(4, 3);
        QImage colours(s, QImage::Format_Indexed8);
        colours.setColorTable({qRgb(9, 9, 9), qRgb(0, 0, 255)}); // not all gray
        QImage translucent = colours;
        translucent.setColor(0, qRgba(255, 0, 0, 128));
        const QImage gray = randomImage(16, 8, Gray, 10);
        // Masks are 8-bit gray or colour without alpha; 16-bit gray is not read as a frame.
        // As Qt decodes files: a colour JPEG to 32 bits without alpha, a gray PNG to gray.
        const std::tuple<const char*, QImage, int, bool> rows[] = {
            {"indexed gray", grayIndexed(s), 0, true},
            {"indexed colour", colours, 0, false},
            {"indexed alpha", translucent, 1, false},
            {"rgb jpeg", encodedAndDecoded(randomImage(16, 8, RGB, 9), "jpg"), 0, false},
            {"gray png", encodedAndDecoded(gray, "png"), 0, true},
            {"alpha png", encodedAndDecoded(randomImage(4, 3, ARGB, 16), "png"), 1, false},
            {"16-bit png",
             encodedAndDecoded(gray.convertToFormat(QImage::Format_Grayscale16), "png"), -1,
             false}};
        for (const auto& [tag, image, type, isGray] : rows) {
            QVERIFY2(!image.isNull(), tag); // a file that failed to decode proves nothing
            QVERIFY2(ImageProcessor::borderType(image) == type, tag);
            QVERIFY2(ImageProcessor::isGrayscaleMask(image) == isGray, tag);
        }
    }

    void scaleToFit()
    {
        const std::tuple<QSize, QSize, QSize> rows[] = {
            {{4000, 3000}, {500, 400}, {500, 375}},
            {{3000, 4000}, {500, 400}, {300, 400}},
            {{400, 300}, {500, 400}, {400, 300}},
            {{400, 300}, {50, 40}, {50, 38}},
            {{5, 2}, {10, 1}, {3, 1}}, // half away from zero
            {{30000, 20}, {1200, 800}, {1200, 1}},
            {{300, 200}, {0, 0}, {1, 1}},
            {{0, 0}, {100, 100}, QSize()}};
        for (const auto& [image, box, expected] : rows) {
            QCOMPARE(ImageProcessor::scaledSizeToFit(image, box), expected);
            if (image.isEmpty() || qint64(image.width()) * image.height() > 200000)
                continue;
            QImage flat(image, QImage::Format_RGB32);
            flat.fill(qRgb(30, 60, 90));
            const QImage scaled = ImageProcessor::scaleImageToFit(flat, box);
            QCOMPARE(scaled.size(), expected);
            if (expected == image)
                QCOMPARE(scaled, flat); // never enlarged: a copy
        }
    }
};

QTEST_MAIN(TestComposite)
#include "test_composite.moc"
