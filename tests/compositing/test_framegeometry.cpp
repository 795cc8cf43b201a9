#include "PixelReference.h"
#include "compositing/BorderCompositor.h"
#include "compositing/FrameGeometry.h"
#include "compositing/FrameLayer.h"
#include "compositing/FramedPhoto.h"
#include "compositing/VectorImage.h"

#include <QPainter>
#include <QTest>

#include <functional>

using namespace BorderCompositor;

namespace {

struct Run {
    int start;
    int length;
};

// Maximal runs of positions 0..n-1 where inside(i) holds.
std::vector<Run> runs(int n, const std::function<bool(int)>& inside)
{
    std::vector<Run> out;
    for (int i = 0; i < n; ++i) {
        if (!inside(i))
            continue;
        int j = i;
        while (j < n && inside(j))
            ++j;
        out.push_back({i, j - i});
        i = j;
    }
    return out;
}

// A 1200 x 800 drawing: black around a 1000 x 600 opening, with a round hole in the left
// border, as film sprockets are.
const QByteArray FilmSvg =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1200 800\"> "
    "<path fill-rule=\"evenodd\" fill=\"black\" "
    "d=\"M0 0H1200V800H0Z M100 100V700H1100V100Z M30 400a20 20 0 1 0 40 0a20 20 0 1 0 -40 0Z\"/> "
    "</svg>";

// w x h with an opaque band inset pixels wide inside each edge and a transparent middle;
// the band's colour tells the sides apart (red left, green top, blue right, yellow bottom).
// Ten holes 40 pixels square every 100 pixels from (130, 30) in the top band show how its
// middle is laid along.
QImage bandFrame(QSize size, const QMargins& inset)
{
    QImage frame(size, QImage::Format_ARGB32);
    frame.fill(Qt::transparent);
    QPainter p(&frame);
    p.fillRect(0, 0, inset.left(), size.height(), Qt::red);
    p.fillRect(size.width() - inset.right(), 0, inset.right(), size.height(), Qt::blue);
    p.fillRect(0, 0, size.width(), inset.top(), Qt::green);
    p.fillRect(0, size.height() - inset.bottom(), size.width(), inset.bottom(), Qt::yellow);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    for (int k = 0; k < 10; ++k)
        p.fillRect(130 + 100 * k, 30, 40, 40, Qt::transparent);
    return frame;
}

FrameGeometry insets(const QMargins& m, FrameGeometry::Edges edges = FrameGeometry::Edges::Stretch)
{
    return {.hasInsets = true,
            .left = m.left(),
            .top = m.top(),
            .right = m.right(),
            .bottom = m.bottom(),
            .edges = edges};
}

// The opaque runs at the ends of the middle row and column of an overlay.
QMargins measuredBorders(const QImage& overlay)
{
    const int w = overlay.width(), h = overlay.height();
    auto opaque = [&](int x, int y) { return qAlpha(overlay.pixel(x, y)) > 127; };
    const auto across = runs(w, [&](int x) { return opaque(x, h / 2); });
    const auto down = runs(h, [&](int y) { return opaque(w / 2, y); });
    if (across.size() < 2 || down.size() < 2 || across[0].start || down[0].start)
        return {};
    return QMargins(across[0].length, down[0].length, across.back().length, down.back().length);
}

} // namespace

class TestFrameGeometry : public QObject {
    Q_OBJECT
private slots:
    void borderThickness()
    {
        using E = FrameGeometry::Edges;
        const QSize frame(1200, 800);
        const QMargins hundred(100, 100, 100, 100), uneven(40, 80, 120, 160);
        // Nine parts (none: stretched whole) scale by the photo's smaller ratio:
        // min(6000 / 1200, 2000 / 800) = 2.5; min(1500 / 1200, 3000 / 800) = 1.25; 0.25 below
        // the frame's size. Stretched whole, the sides grow 5 times, the rest 2.5.
        // On 6000 x 2000 the top border's middle (1000 px of the frame, ten holes 40 px wide
        // every 100 px from x = 130) runs from 250 to 5750. Stretched: 5.5 times along, holes
        // 220 px wide every 550 px. Tiled: repeats of 2500 px, two of them (5500 / 2500 = 2.2),
        // the last one 3000 px wide, so its first hole is at 2750 + 30 x 3 = 2840.
        // inset, edges, photo, borders; where holes start along the top border (-1: not
        // looked at), between holes of one repeat, the width of a hole, the first hole of the
        // last repeat
        const std::tuple<QMargins, std::optional<E>, QSize, QMargins, int, double, double, int>
            rows[] = {{hundred, E::Stretch, {6000, 2000}, {250, 250, 250, 250}, 415, 550, 220, -1},
                      {hundred, E::Tile, {6000, 2000}, {250, 250, 250, 250}, 325, 250, 100, 2840},
                      {hundred, {}, {6000, 2000}, {500, 250, 500, 250}, -1, 0, 0, -1},
                      {uneven, E::Stretch, {1500, 3000}, {50, 100, 150, 200}, -1, 0, 0, -1},
                      {uneven, E::Stretch, {300, 300}, {10, 20, 30, 40}, -1, 0, 0, -1}};
        for (const auto& [inset, edges, photo, expected, firstHole, period, width, lastRepeat] :
             rows) {
            FramedPhoto framed;
            framed.photo = QImage(photo, QImage::Format_RGB32);
            framed.photo.fill(Qt::gray);
            framed.frame = bandFrame(frame, inset);
            framed.autoRotate = false;
            if (edges)
                framed.geometry = insets(inset, *edges);
            const QImage composite = compositeFullResolution(framed, 2);
            const QImage overlay =
                canvasLayers(framed, photo, std::nullopt, false).overlay.rendered();
            QCOMPARE(measuredBorders(overlay), expected);
            // Clear of the few pixels an enlargement blends.
            const int midY = photo.height() / 2;
            QCOMPARE(QList({composite.pixel(expected.left() - 4, midY),
                            composite.pixel(expected.left() + 4, midY),
                            composite.pixel(photo.width() / 2, midY * 2 - expected.bottom() + 4)}),
                     QList({qRgb(255, 0, 0), QColor(Qt::gray).rgb(), qRgb(255, 255, 0)}));
            if (firstHole >= 0) {
                // The holes' middle row: 50 x 2.5.
                const auto holes =
                    runs(6000, [&](int x) { return qAlpha(overlay.pixel(x, 125)) < 128; });
                QCOMPARE(int(holes.size()), lastRepeat >= 0 ? 20 : 10);
                QVERIFY(qAbs(holes[0].start - firstHole) <= 1);
                for (int k = 0; k < 10; ++k) {
                    QVERIFY2(qAbs(holes[k].length - width) <= 1, qPrintable(QString::number(k)));
                    QVERIFY(k == 0 || qAbs(holes[k].start - holes[k - 1].start - period) <= 1);
                }
                // The whole repeat: 1000 frame pixels x 2.5.
                if (lastRepeat >= 0)
                    QVERIFY(qAbs(holes[10].start - lastRepeat) <= 1 &&
                            qAbs(holes[10].start - 90 - holes[0].start + 75 - 2500) <= 1);
            }
            // The preview lays the frame out at its own size: a tenth of the photo, a tenth of
            // the borders.
            const QImage reduced = framed.photo.scaled(photo / 10);
            OverlayCache cache;
            const QImage preview = compositePreview(framed, reduced, QPointF(), cache);
            const auto red = runs(reduced.width(), [&](int x) {
                const QRgb c = preview.pixel(x, reduced.height() / 2);
                return qRed(c) > 200 && qGreen(c) < 60;
            });
            QVERIFY(!red.empty() && red[0].start == 0);
            QVERIFY2(qAbs(red[0].length - expected.left() / 10.0) <= 1,
                     qPrintable(QString::number(red[0].length)));
        }
    }

    void keptShape()
    {
        // A square frame with a round opening 80 % of its width: kept in shape it stays round
        // on any photo, and the canvas beside it is frame.
        const QColor colour(0x20, 0x40, 0x80);
        const auto d = VectorImage::fromData(
            "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 100 100\"> "
            "<path fill-rule=\"evenodd\" fill=\"#204080\" d=\"M0 0H100V100H0Z "
            "M10 50a40 40 0 1 0 80 0a40 40 0 1 0 -80 0Z\"/></svg>");
        // The same frame as bitmaps: in its colours, and as a mask white where the frame is.
        const QImage bitmap =
            FrameLayer(d, false, FrameLayer::Kind::Color, FrameGeometry(), QSize(1000, 1000))
                .rendered();
        const QImage alpha = bitmap.convertToFormat(QImage::Format_Alpha8);
        const QImage mask = QImage(alpha.constBits(), 1000, 1000, int(alpha.bytesPerLine()),
                                   QImage::Format_Grayscale8)
                                .copy();
        for (const char* kind : {"alpha", "mask", "drawing"}) {
            FramedPhoto framed;
            if (kind[0] == 'd')
                framed.frameDrawing = d;
            else
                framed.frame = kind[0] == 'a' ? bitmap : mask;
            framed.geometry.keepAspect = true;
            for (const QSize canvas : {QSize(6000, 4000), QSize(900, 1600)}) {
                const QImage overlay =
                    canvasLayers(framed, canvas, colour, false).overlay.rendered();
                QVERIFY2(overlay.size() == canvas, kind);
                const int cx = canvas.width() / 2, cy = canvas.height() / 2;
                auto open = [&](int x, int y) { return qAlpha(overlay.pixel(x, y)) < 128; };
                const auto across = runs(canvas.width(), [&](int x) { return open(x, cy); });
                const auto down = runs(canvas.height(), [&](int y) { return open(cx, y); });
                QVERIFY2(across.size() == 1 && down.size() == 1, kind);
                const double side = std::min(canvas.width(), canvas.height()); // the frame's
                QVERIFY2(qAbs(across[0].length - 0.8 * side) <= 0.01 * 0.8 * side, kind);
                QVERIFY2(qAbs(double(across[0].length) / down[0].length - 1.0) <= 0.01, kind);
                // A drawing is drawn at the canvas's size: its edges go from 10 % to 90 % within
                // 2 pixels, where an enlarged bitmap would take dozens.
                for (const Run& edge : runs(kind[0] == 'd' ? canvas.width() : 0, [&](int x) {
                         const int a = qAlpha(overlay.pixel(x, cy));
                         return a > 0.1 * 255 && a < 0.9 * 255;
                     }))
                    QVERIFY2(edge.length <= 2, qPrintable(QString("edge at %1").arg(edge.start)));
                // Centred, and the frame's colour fills the canvas out to its edges.
                QVERIFY2(qAbs(across[0].start + across[0].length / 2 - cx) <= 1, kind);
                QCOMPARE(
                    QList({overlay.pixel(0, 0), overlay.pixel(canvas.width() - 1, cy * 2 - 1)}),
                    QList({colour.rgb(), colour.rgb()}));
            }
        }
    }

    void drawingTurnsEitherWay()
    {
        // Opaque in the left quarter and the top half of the rest: no turn maps it onto another.
        // Clockwise as alpha frames turn, the other way as a mask frame's post mask does.
        const auto d =
            VectorImage::fromData("<svg xmlns='http://www.w3.org/2000/svg' width='40' height='20' "
                                  "viewBox='0 0 40 20'><rect width='10' height='20'/>"
                                  "<rect x='10' width='30' height='10'/></svg>");
        QVERIFY(d);
        const QImage flat =
            FrameLayer(d, false, FrameLayer::Kind::Alpha, FrameGeometry(), QSize(40, 20))
                .rendered();
        for (bool clockwise : {true, false})
            QCOMPARE(FrameLayer(d, true, FrameLayer::Kind::Alpha, FrameGeometry().turned(clockwise),
                                QSize(20, 40), clockwise)
                         .rendered(),
                     PixelReference::turned(flat, clockwise));
    }

    void bandsEqualWhole()
    {
        FrameGeometry kept;
        kept.keepAspect = true;
        const FrameGeometry tiled = insets(QMargins(100, 60, 140, 80), FrameGeometry::Edges::Tile);
        // a drawing (else a bitmap), the geometry, turned
        const std::tuple<bool, FrameGeometry, bool> rows[] = {
            {false, tiled, false}, {false, kept, true}, {true, tiled, true}, {true, kept, false}};
        for (const auto& [drawn, geometry, turn] : rows) {
            FramedPhoto framed;
            // Portrait frames are turned on the landscape photo.
            framed.photo = PixelReference::randomImage(turn ? 411 : 250, turn ? 250 : 411,
                                                       QImage::Format_RGB32, 7);
            framed.offset = QPointF(13, -21);
            framed.color = QColor(200, 30, 60);
            if (drawn)
                framed.frameDrawing =
                    VectorImage::fromData(QByteArray(FilmSvg).replace("1200 800", "800 1200"));
            else
                framed.frame = PixelReference::randomImage(300, 480, QImage::Format_ARGB32, 3);
            framed.postMaskDrawing = VectorImage::fromData(
                "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 800 1200\"> "
                "<circle cx=\"400\" cy=\"100\" r=\"50\"/></svg>");
            framed.geometry = geometry;
            const QImage whole = compositeFullResolution(framed, 3);
            QVERIFY(!whole.isNull());
            const FullResolutionLayers layers = fullResolutionLayers(framed, framed.photo.size());
            const QImage photo = framed.photo.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            QImage band;
            for (int first = 0; first < whole.height(); first += 37) {
                const int end = std::min(whole.height(), first + 37);
                QVERIFY(compositeBand(layers, photo, 0, first, end, &band));
                for (int y = first; y < end; ++y)
                    QVERIFY2(std::memcmp(band.constScanLine(y - first), whole.constScanLine(y),
                                         size_t(whole.width()) * 4) == 0,
                             qPrintable(QString("row %1").arg(y)));
            }
        }
    }

    void badPropertyLists()
    {
        // The keys given, the empty ones left out.
        auto map = [](const QVariantMap& insets, const QVariant& edges = {},
                      const QVariant& keep = {}) {
            QVariantMap m{{"Insets", insets}, {"Edges", edges}, {"KeepAspect", keep}};
            m.removeIf([](auto it) { return !it->isValid() || *it == QVariantMap(); });
            return QVariant(m);
        };
        auto in = [](QVariant l, QVariant t, QVariant r, QVariant b) {
            return QVariantMap{{"Left", l}, {"Top", t}, {"Right", r}, {"Bottom", b}};
        };
        const qint64 i = 100;
        // the property list; insets, tiled edges and kept shape taken; the warnings given
        const std::tuple<const char*, QVariant, bool, bool, bool, int> rows[] = {
            {"good", map(in(i, i, i, i), "tile", true), true, true, true, 0},
            {"missing sides are 0", map({{"Left", i}}), true, false, false, 0},
            {"string inset", map(in("100", i, i, i)), false, false, false, 1},
            {"real inset", map(in(100.5, i, i, i)), false, false, false, 1},
            {"negative", map(in(qint64(-1), i, i, i)), false, false, false, 1},
            {"wider than the frame", map(in(qint64(600), i, qint64(600), i)), false, false, false,
             1},
            {"taller than the frame", map(in(i, qint64(5000), i, i)), false, false, false, 1},
            {"insets not a dictionary", QVariantMap{{"Insets", QVariantList{1, 2, 3, 4}}}, false,
             false, false, 1},
            {"keep aspect as a string", map({}, {}, "YES"), false, false, false, 1},
            {"root is an array", QVariantList{1, 2}, false, false, false, 1},
            {"nothing", QVariant(), false, false, false, 1},
            {"unknown edges, rest kept", map(in(i, i, i, i), "zigzag", true), true, false, true, 1},
            // The middle is a single unit: tiles would repeat about once a pixel.
            {"tiles too small", map(in(qint64(600), i, qint64(599), i), "tile"), true, false, false,
             1}};
        for (const auto& [tag, root, insets, tile, keep, warnings] : rows) {
            QStringList told;
            const FrameGeometry g = FrameGeometry::fromPropertyList(root, QSizeF(1200, 800), &told);
            QVERIFY2(std::tuple(g.hasInsets, g.edges == FrameGeometry::Edges::Tile, g.keepAspect,
                                int(told.size())) == std::tuple(insets, tile, keep, warnings),
                     tag);
            // Whatever came out draws, also on a canvas of another shape, where the top edge's
            // tiles would repeat 10000 times.
            QVERIFY2(!g.layout(QSizeF(1200, 800), QSize(300, 200)).cells.empty(), tag);
            FrameGeometry nineParts = g;
            nineParts.keepAspect = false;
            for (const auto& cell :
                 nineParts.layout(QSizeF(1200, 800), QSize(10'000'000, 800)).cells)
                QVERIFY2(cell.columns.size() <= FrameGeometry::MaxRepeats, tag);
        }
    }

    void badDrawings()
    {
        auto sized = [](const char* box) {
            return QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"") + box +
                   "\"><rect width=\"10\" height=\"10\"/></svg>";
        };
        const QByteArray picture =
            "<svg xmlns=\"http://www.w3.org/2000/svg\" "
            "xmlns:xlink=\"http://www.w3.org/1999/xlink\" viewBox=\"0 0 10 10\">"
            "<image width=\"10\" height=\"10\" xlink:href=\"%1\"/></svg>";
        const QByteArray entity = "<!DOCTYPE svg [<!ENTITY e \"6\">]>" + sized("0 0 9 9");
        // Packed drawings, entities used far too often and drawings carried inside drawings are
        // rows of test_hostile.
        const std::tuple<const char*, QByteArray, bool> rows[] = {
            {"good", sized("0 0 1200 800"), true},
            {"malformed xml", "<svg xmlns=\"http://www.w3.org/2000/svg\"><rect", false},
            {"not svg", "\x89PNG\r\n\x1a\n garbage", false},
            {"empty", QByteArray(), false},
            {"huge view box", sized("0 0 1e9 1e9"), false},
            {"negative view box", sized("0 0 -100 100"), false},
            {"needle", sized("0 0 100000 1"), false},
            {"picture carried inside",
             QByteArray(picture).replace("%1", "data:image/png;base64,iVBORw0KGgo="), true},
            {"picture from a file", QByteArray(picture).replace("%1", "/etc/hostname"), false},
            {"picture from a file, plain href",
             QByteArray(picture).replace("xlink:href", "href").replace("%1", "photo.jpg"), false},
            {"entity used a few times", QByteArray(entity).replace("=\"10\"", "=\"&e;\""), true},
            // Qt has no fonts without a QGuiApplication, and would end the program.
            {"text, no fonts",
             sized("0 0 100 100").replace("</svg>", "<text>Happy Birthday</text></svg>"), false},
            {"too big a file",
             sized("0 0 100 100").append(QByteArray(VectorImage::MaxFileBytes, ' ')), false}};
        for (const auto& [tag, svg, usable] : rows) {
            QString error;
            const auto d = VectorImage::fromData(svg, &error);
            QVERIFY2((d != nullptr) == usable && error.isEmpty() == usable, tag);
            if (!d)
                continue;
            // Drawn small and large without trouble.
            FramedPhoto framed;
            framed.frameDrawing = d;
            QVERIFY2(!canvasLayers(framed, QSize(30, 20), QColor(Qt::white), false)
                          .overlay.rendered()
                          .isNull(),
                     tag);
        }
    }
};

QTEST_GUILESS_MAIN(TestFrameGeometry)
#include "test_framegeometry.moc"
