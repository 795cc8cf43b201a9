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

Q_DECLARE_METATYPE(FrameGeometry)

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

std::shared_ptr<const VectorImage> drawing(const QByteArray& svg)
{
    QString error;
    auto d = VectorImage::fromData(svg, &error);
    if (!d)
        qWarning() << error;
    return d;
}

// A 1200 x 800 drawing: black around a 1000 x 600 opening, with a round hole of radius 20
// in the left border, as film sprockets are.
const QByteArray FilmSvg =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1200 800\"> "
    "<path fill-rule=\"evenodd\" fill=\"black\" "
    "d=\"M0 0H1200V800H0Z M100 100V700H1100V100Z M30 400a20 20 0 1 0 40 0a20 20 0 1 0 -40 0Z\"/> "
    "</svg>";

// w x h with an opaque band inset pixels wide inside each edge and a transparent middle;
// the band's colour tells the sides apart (red left, green top, blue right, yellow bottom).
QImage bandFrame(QSize size, const QMargins& inset)
{
    QImage frame(size, QImage::Format_ARGB32);
    frame.fill(Qt::transparent);
    QPainter p(&frame);
    p.fillRect(0, 0, inset.left(), size.height(), Qt::red);
    p.fillRect(size.width() - inset.right(), 0, inset.right(), size.height(), Qt::blue);
    p.fillRect(0, 0, size.width(), inset.top(), Qt::green);
    p.fillRect(0, size.height() - inset.bottom(), size.width(), inset.bottom(), Qt::yellow);
    return frame;
}

FrameGeometry insets(const QMargins& m, FrameGeometry::Edges edges = FrameGeometry::Edges::Stretch)
{
    FrameGeometry g;
    g.hasInsets = true;
    g.left = m.left();
    g.top = m.top();
    g.right = m.right();
    g.bottom = m.bottom();
    g.edges = edges;
    return g;
}

// Opaque pixels from each side of the middle row and column of an overlay.
QMargins measuredBorders(const QImage& overlay)
{
    const int w = overlay.width(), h = overlay.height();
    auto opaque = [&](int x, int y) { return qAlpha(overlay.pixel(x, y)) > 127; };
    int l = 0, r = 0, t = 0, b = 0;
    while (l < w && opaque(l, h / 2))
        ++l;
    while (r < w && opaque(w - 1 - r, h / 2))
        ++r;
    while (t < h && opaque(w / 2, t))
        ++t;
    while (b < h && opaque(w / 2, h - 1 - b))
        ++b;
    return QMargins(l, t, r, b);
}

} // namespace

class TestFrameGeometry : public QObject {
    Q_OBJECT

private:
private slots:
    void drawingIsSharpAtFullSize()
    {
        // Drawn at 6000 x 4000, five times the drawing's size: every edge, straight or round,
        // goes from 10 % to 90 % within 2 pixels, where an enlarged bitmap would take 5.
        FramedPhoto framed;
        framed.frameDrawing = drawing(FilmSvg);
        QVERIFY(framed.frameDrawing);
        const QSize canvas(6000, 4000);
        const CanvasLayers layers = canvasLayers(framed, canvas, QColor(Qt::white), false);
        QCOMPARE(layers.borderType, 1);
        FrameLayer::Rows rows(&layers.overlay);
        auto partial = [](uchar a) { return a > 0.1 * 255 && a < 0.9 * 255; };
        std::vector<uchar> column(canvas.height());
        std::vector<uchar> middle(canvas.width());
        for (int y = 0; y < canvas.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(rows.row(y));
            QVERIFY(row);
            column[y] = uchar(qAlpha(row[3000]));
            if (y == 2000)
                for (int x = 0; x < canvas.width(); ++x)
                    middle[x] = uchar(qAlpha(row[x]));
        }
        // Along the middle row: the hole (x 150..350), the opening (500..5500).
        const auto rowEdges = runs(canvas.width(), [&](int x) { return partial(middle[x]); });
        const auto holes = runs(canvas.width(), [&](int x) { return middle[x] < 128; });
        QCOMPARE(int(holes.size()), 2);
        QVERIFY(qAbs(holes[0].start - 150) <= 1 && qAbs(holes[0].length - 200) <= 2);
        QVERIFY(qAbs(holes[1].start - 500) <= 1 && qAbs(holes[1].length - 5000) <= 2);
        const auto columnEdges = runs(canvas.height(), [&](int y) { return partial(column[y]); });
        for (const auto& edges : {rowEdges, columnEdges})
            for (const Run& run : edges)
                QVERIFY2(run.length <= 2,
                         qPrintable(QString("edge of %1 px at %2").arg(run.length).arg(run.start)));
    }

    void borderThickness_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QMargins>("inset");
        QTest::addColumn<bool>("nineParts");
        QTest::addColumn<QSize>("photo");
        QTest::addColumn<QMargins>("expected");
        const QMargins hundred(100, 100, 100, 100);
        // s = min(6000 / 1200, 2000 / 800) = 2.5: every border 250 pixels.
        QTest::newRow("nine parts, wide photo")
            << QSize(1200, 800) << hundred << true << QSize(6000, 2000)
            << QMargins(250, 250, 250, 250);
        // Stretched whole, the sides grow 5 times and the top and bottom 2.5 times.
        QTest::newRow("stretched") << QSize(1200, 800) << hundred << false << QSize(6000, 2000)
                                   << QMargins(500, 250, 500, 250);
        // s = min(1500 / 1200, 3000 / 800) = 1.25.
        QTest::newRow("nine parts, tall photo")
            << QSize(1200, 800) << QMargins(40, 80, 120, 160) << true << QSize(1500, 3000)
            << QMargins(50, 100, 150, 200);
        // Smaller than the frame: s = 0.25, borders still in proportion.
        QTest::newRow("nine parts, reduced") << QSize(1200, 800) << QMargins(40, 80, 120, 160)
                                             << true << QSize(300, 300) << QMargins(10, 20, 30, 40);
    }

    void borderThickness()
    {
        QFETCH(QSize, frame);
        QFETCH(QMargins, inset);
        QFETCH(bool, nineParts);
        QFETCH(QSize, photo);
        QFETCH(QMargins, expected);
        FramedPhoto framed;
        framed.photo = QImage(photo, QImage::Format_RGB32);
        framed.photo.fill(Qt::gray);
        framed.frame = bandFrame(frame, inset);
        framed.autoRotate = false;
        if (nineParts)
            framed.geometry = insets(inset);
        const QImage composite = compositeFullResolution(framed, 2);
        // The bands' colours where the photo's grey is not.
        const QImage overlay = canvasLayers(framed, photo, std::nullopt, false).overlay.rendered();
        QCOMPARE(measuredBorders(overlay), expected);
        // Clear of the few pixels an enlargement blends.
        QCOMPARE(composite.pixel(expected.left() - 4, photo.height() / 2), qRgb(255, 0, 0));
        QCOMPARE(composite.pixel(expected.left() + 4, photo.height() / 2), QColor(Qt::gray).rgb());
        QCOMPARE(composite.pixel(photo.width() / 2, photo.height() - expected.bottom() + 4),
                 qRgb(255, 255, 0));
        // The preview lays the frame out at its own size: a tenth of the photo, a tenth of
        // the borders.
        const QImage reduced = framed.photo.scaled(photo / 10);
        OverlayCache cache;
        const QImage preview = compositePreview(framed, reduced, QPointF(), cache);
        int red = 0;
        while (red < reduced.width() && qRed(preview.pixel(red, reduced.height() / 2)) > 200 &&
               qGreen(preview.pixel(red, reduced.height() / 2)) < 60)
            ++red;
        QVERIFY2(qAbs(red - expected.left() / 10.0) <= 1, qPrintable(QString::number(red)));
    }

    void tiledEdges_data()
    {
        QTest::addColumn<int>("edges");
        QTest::addColumn<int>("firstHole"); // where holes start along the top border, canvas px
        QTest::addColumn<double>("period"); // between holes of one repeat
        QTest::addColumn<double>("width");  // of a hole
        QTest::addColumn<int>("lastRepeatHole");
        // 1200 x 800, insets 100, on 6000 x 2000: s = 2.5, the top border's middle (1000 px of
        // the frame, ten holes 40 px wide every 100 px from x = 130) runs from 250 to 5750.
        // Tiled: repeats of 2500 px, two of them (5500 / 2500 = 2.2), the last one 3000 px
        // wide, so its first hole is at 2750 + 30 x 3 = 2840.
        QTest::newRow("tile") << int(FrameGeometry::Edges::Tile) << 325 << 250.0 << 100.0 << 2840;
        // Stretched: 5.5 times along, holes 220 px wide every 550 px; no second repeat.
        QTest::newRow("stretch") << int(FrameGeometry::Edges::Stretch) << 415 << 550.0 << 220.0
                                 << -1;
    }

    void tiledEdges()
    {
        QFETCH(int, edges);
        QFETCH(int, firstHole);
        QFETCH(double, period);
        QFETCH(double, width);
        QFETCH(int, lastRepeatHole);
        QImage frame = bandFrame(QSize(1200, 800), QMargins(100, 100, 100, 100));
        {
            QPainter p(&frame);
            p.setCompositionMode(QPainter::CompositionMode_Clear);
            for (int k = 0; k < 10; ++k)
                p.fillRect(130 + 100 * k, 30, 40, 40, Qt::transparent);
        }
        FramedPhoto framed;
        framed.frame = frame;
        framed.geometry = insets(QMargins(100, 100, 100, 100), FrameGeometry::Edges(edges));
        const QImage overlay =
            canvasLayers(framed, QSize(6000, 2000), std::nullopt, false).overlay.rendered();
        const int y = 125; // the holes' middle row: 50 x 2.5
        const auto holes = runs(6000, [&](int x) { return qAlpha(overlay.pixel(x, y)) < 128; });
        QVERIFY(holes.size() >= 10);
        QVERIFY(qAbs(holes[0].start - firstHole) <= 1);
        for (int k = 0; k < 10; ++k) {
            QVERIFY2(qAbs(holes[k].length - width) <= 1, qPrintable(QString::number(k)));
            if (k > 0)
                QVERIFY(qAbs(holes[k].start - holes[k - 1].start - period) <= 1);
        }
        if (lastRepeatHole >= 0) {
            QCOMPARE(int(holes.size()), 20);
            QVERIFY(qAbs(holes[10].start - lastRepeatHole) <= 1);
            // The whole repeat: 1000 frame pixels x 2.5.
            QVERIFY(qAbs(holes[10].start - 90 - holes[0].start + 75 - 2500) <= 1);
        }
    }

    void keptShape_data()
    {
        QTest::addColumn<int>("kind"); // 0 alpha bitmap, 1 mask bitmap, 2 drawing
        QTest::addColumn<QSize>("canvas");
        for (int kind = 0; kind < 3; ++kind) {
            const char* names[] = {"alpha", "mask", "drawing"};
            QTest::addRow("%s, landscape", names[kind]) << kind << QSize(6000, 4000);
            QTest::addRow("%s, portrait", names[kind]) << kind << QSize(900, 1600);
        }
    }

    void keptShape()
    {
        QFETCH(int, kind);
        QFETCH(QSize, canvas);
        // A square frame with a round opening 80 % of its width: kept in shape it stays round
        // on any photo, and the canvas beside it is frame.
        FramedPhoto framed;
        if (kind == 2) {
            framed.frameDrawing = drawing(
                "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 100 100\"> "
                "<path fill-rule=\"evenodd\" fill=\"#204080\" d=\"M0 0H100V100H0Z M10 50a40 40 "
                "0 1 0 80 0a40 40 0 1 0 -80 0Z\"/></svg>");
        } else {
            QImage frame(1000, 1000, kind == 0 ? QImage::Format_ARGB32 : QImage::Format_Grayscale8);
            frame.fill(kind == 0 ? QColor(0x20, 0x40, 0x80) : QColor(Qt::white));
            QPainter p(&frame);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.setBrush(kind == 0 ? QColor(Qt::transparent) : QColor(Qt::black));
            p.drawEllipse(QPointF(500, 500), 400, 400);
            p.end();
            framed.frame = frame;
        }
        framed.geometry.keepAspect = true;
        const QColor colour(0x20, 0x40, 0x80);
        const QImage overlay = canvasLayers(framed, canvas, colour, false).overlay.rendered();
        QCOMPARE(overlay.size(), canvas);
        const int cx = canvas.width() / 2, cy = canvas.height() / 2;
        auto open = [&](int x, int y) { return qAlpha(overlay.pixel(x, y)) < 128; };
        const auto across = runs(canvas.width(), [&](int x) { return open(x, cy); });
        const auto down = runs(canvas.height(), [&](int y) { return open(cx, y); });
        QCOMPARE(int(across.size()), 1);
        QCOMPARE(int(down.size()), 1);
        const double side = std::min(canvas.width(), canvas.height()); // the frame's, placed
        QVERIFY(qAbs(across[0].length - 0.8 * side) <= 0.01 * 0.8 * side);
        QVERIFY(qAbs(double(across[0].length) / down[0].length - 1.0) <= 0.01);
        // Centred, and the frame's colour fills the canvas out to its edges.
        QVERIFY(qAbs(across[0].start + across[0].length / 2 - cx) <= 1);
        for (const QPoint corner : {QPoint(0, 0), QPoint(canvas.width() - 1, canvas.height() - 1)})
            QCOMPARE(overlay.pixel(corner), colour.rgb());
    }

    void drawingTurnsEitherWay_data()
    {
        QTest::addColumn<bool>("clockwise");
        QTest::newRow("clockwise, as alpha frames turn") << true;
        QTest::newRow("counter-clockwise, as a mask frame's post mask turns") << false;
    }

    void drawingTurnsEitherWay()
    {
        // Opaque in the left quarter and the top half of the rest: no turn maps it onto another.
        QFETCH(bool, clockwise);
        const auto d = drawing("<svg xmlns='http://www.w3.org/2000/svg' width='40' height='20' "
                               "viewBox='0 0 40 20'><rect width='10' height='20'/>"
                               "<rect x='10' width='30' height='10'/></svg>");
        QVERIFY(d);
        const QImage flat =
            FrameLayer(d, false, FrameLayer::Kind::Alpha, FrameGeometry(), QSize(40, 20))
                .rendered();
        const QImage turned =
            FrameLayer(d, true, FrameLayer::Kind::Alpha, FrameGeometry().turned(clockwise),
                       QSize(20, 40), clockwise)
                .rendered();
        QCOMPARE(turned, PixelReference::turned(flat, clockwise));
    }

    void bandsEqualWhole_data()
    {
        QTest::addColumn<int>("frameKind"); // 0 bitmap, 1 drawing
        QTest::addColumn<FrameGeometry>("geometry");
        QTest::addColumn<bool>("turn");
        FrameGeometry kept;
        kept.keepAspect = true;
        const FrameGeometry tiled = insets(QMargins(100, 60, 140, 80), FrameGeometry::Edges::Tile);
        QTest::newRow("bitmap, tiled nine parts") << 0 << tiled << false;
        QTest::newRow("bitmap, kept shape, turned") << 0 << kept << true;
        QTest::newRow("drawing, tiled nine parts, turned") << 1 << tiled << true;
        QTest::newRow("drawing, kept shape") << 1 << kept << false;
    }

    void bandsEqualWhole()
    {
        QFETCH(int, frameKind);
        QFETCH(FrameGeometry, geometry);
        QFETCH(bool, turn);
        FramedPhoto framed;
        // Portrait frames are turned on the landscape photo.
        framed.photo = turn ? PixelReference::randomImage(411, 250, QImage::Format_RGB32, 7)
                            : PixelReference::randomImage(250, 411, QImage::Format_RGB32, 7);
        framed.offset = QPointF(13, -21);
        framed.color = QColor(200, 30, 60);
        if (frameKind == 1)
            framed.frameDrawing = drawing(QByteArray(FilmSvg).replace("1200 800", "800 1200"));
        else
            framed.frame = PixelReference::randomImage(300, 480, QImage::Format_ARGB32, 3);
        framed.postMaskDrawing =
            drawing("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 800 1200\"> "
                    "<circle cx=\"400\" cy=\"100\" r=\"50\"/></svg>");
        framed.geometry = geometry;
        const QImage whole = compositeFullResolution(framed, 3);
        QVERIFY(!whole.isNull());
        const FullResolutionLayers layers = fullResolutionLayers(framed, framed.photo.size());
        const QImage rows = framed.photo.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QImage band;
        for (int first = 0; first < whole.height(); first += 37) {
            const int end = std::min(whole.height(), first + 37);
            QVERIFY(compositeBand(layers, rows, 0, first, end, &band));
            for (int y = first; y < end; ++y)
                QVERIFY2(std::memcmp(band.constScanLine(y - first), whole.constScanLine(y),
                                     size_t(whole.width()) * 4) == 0,
                         qPrintable(QString("row %1").arg(y)));
        }
    }

    void badPropertyLists_data()
    {
        QTest::addColumn<QVariant>("root");
        QTest::addColumn<bool>("hasInsets");
        QTest::addColumn<bool>("tile");
        QTest::addColumn<bool>("keepAspect");
        QTest::addColumn<int>("warnings");
        auto map = [](const QVariantMap& insets, const QVariant& edges = {},
                      const QVariant& keep = {}) {
            QVariantMap m;
            if (!insets.isEmpty())
                m["Insets"] = insets;
            if (edges.isValid())
                m["Edges"] = edges;
            if (keep.isValid())
                m["KeepAspect"] = keep;
            return QVariant(m);
        };
        auto in = [](QVariant l, QVariant t, QVariant r, QVariant b) {
            return QVariantMap{{"Left", l}, {"Top", t}, {"Right", r}, {"Bottom", b}};
        };
        const qint64 i = 100;
        auto row = [](const char* tag, const QVariant& root, bool insets, bool tile, bool keep) {
            QTest::newRow(tag) << root << insets << tile << keep
                               << (insets || tile || keep ? 0 : 1);
        };
        row("good", map(in(i, i, i, i), "tile", true), true, true, true);
        row("missing sides are 0", map({{"Left", i}}), true, false, false);
        row("string inset", map(in("100", i, i, i)), false, false, false);
        row("real inset", map(in(100.5, i, i, i)), false, false, false);
        row("negative", map(in(qint64(-1), i, i, i)), false, false, false);
        row("wider than the frame", map(in(qint64(600), i, qint64(600), i)), false, false, false);
        row("taller than the frame", map(in(i, qint64(5000), i, i)), false, false, false);
        row("insets not a dictionary", QVariantMap{{"Insets", QVariantList{1, 2, 3, 4}}}, false,
            false, false);
        row("keep aspect as a string", map({}, {}, "YES"), false, false, false);
        row("root is an array", QVariantList{1, 2}, false, false, false);
        row("nothing", QVariant(), false, false, false);
        QTest::newRow("unknown edges, rest kept")
            << map(in(i, i, i, i), "zigzag", true) << true << false << true << 1;
        // The middle is a single unit: tiles would repeat about once a pixel.
        QTest::newRow("tiles too small")
            << map(in(qint64(600), i, qint64(599), i), "tile") << true << false << false << 1;
    }

    void badPropertyLists()
    {
        QFETCH(QVariant, root);
        QFETCH(bool, hasInsets);
        QFETCH(bool, tile);
        QFETCH(bool, keepAspect);
        QFETCH(int, warnings);
        QStringList told;
        const FrameGeometry g = FrameGeometry::fromPropertyList(root, QSizeF(1200, 800), &told);
        QCOMPARE(g.hasInsets, hasInsets);
        QCOMPARE(g.edges == FrameGeometry::Edges::Tile, tile);
        QCOMPARE(g.keepAspect, keepAspect);
        QCOMPARE(int(told.size()), warnings);
        // Whatever came out draws.
        const FrameGeometry::Layout layout = g.layout(QSizeF(1200, 800), QSize(300, 200));
        QVERIFY(!layout.cells.empty());
        // Also on a canvas of another shape, where the top edge's tiles would repeat 10000 times.
        FrameGeometry nineParts = g;
        nineParts.keepAspect = false;
        for (const auto& cell : nineParts.layout(QSizeF(1200, 800), QSize(10'000'000, 800)).cells)
            QVERIFY(cell.columns.size() <= FrameGeometry::MaxRepeats);
    }

    void badDrawings_data()
    {
        QTest::addColumn<QByteArray>("svg");
        QTest::addColumn<bool>("usable");
        auto sized = [](const char* box) {
            return QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"") + box +
                   "\"><rect width=\"10\" height=\"10\"/></svg>";
        };
        QTest::newRow("good") << sized("0 0 1200 800") << true;
        QTest::newRow("malformed xml")
            << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\"><rect") << false;
        QTest::newRow("not svg") << QByteArray("\x89PNG\r\n\x1a\n garbage") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("huge view box") << sized("0 0 1e9 1e9") << false;
        QTest::newRow("negative view box") << sized("0 0 -100 100") << false;
        QTest::newRow("needle") << sized("0 0 100000 1") << false;
        const QByteArray picture =
            "<svg xmlns=\"http://www.w3.org/2000/svg\" "
            "xmlns:xlink=\"http://www.w3.org/1999/xlink\" viewBox=\"0 0 10 10\">"
            "<image width=\"10\" height=\"10\" xlink:href=\"%1\"/></svg>";
        QTest::newRow("picture carried inside")
            << QByteArray(picture).replace("%1", "data:image/png;base64,iVBORw0KGgo=") << true;
        QTest::newRow("picture from a file")
            << QByteArray(picture).replace("%1", "/etc/hostname") << false;
        QTest::newRow("picture from a file, plain href")
            << QByteArray(picture).replace("xlink:href", "href").replace("%1", "photo.jpg")
            << false;
        const QByteArray carried =
            QByteArray(picture).replace("%1", "data:image/svg+xml;base64,%1");
        QTest::newRow("drawing carried inside")
            << QByteArray(carried).replace(
                   "%1", QByteArray(picture).replace("%1", "/etc/hostname").toBase64())
            << false;
        QTest::newRow("packed") << QByteArray("\x1f\x8b\x08\x00 packed drawing") << false;
        const QByteArray entity = "<!DOCTYPE svg [<!ENTITY e \"%1\">]>" + sized("0 0 9 9");
        QTest::newRow("entity used a few times")
            << QByteArray(entity).replace("%1", "6").replace("=\"10\"", "=\"&e;\"") << true;
        // Each use within the reader's own bound; all of them 8 MB.
        QTest::newRow("entity used far too often")
            << QByteArray(entity)
                   .replace("%1", QByteArray(4000, 'x'))
                   .replace("</svg>", QByteArray("&e;").repeated(2000) + "</svg>")
            << false;
        // Qt has no fonts without a QGuiApplication, and would end the program.
        QTest::newRow("text, no fonts")
            << sized("0 0 100 100").replace("</svg>", "<text>Happy Birthday</text></svg>") << false;
        QTest::newRow("too big a file")
            << sized("0 0 100 100").append(QByteArray(VectorImage::MaxFileBytes, ' ')) << false;
    }

    void badDrawings()
    {
        QFETCH(QByteArray, svg);
        QFETCH(bool, usable);
        QString error;
        const auto d = VectorImage::fromData(svg, &error);
        QCOMPARE(d != nullptr, usable);
        QCOMPARE(error.isEmpty(), usable);
        if (!d)
            return;
        // Drawn small and large without trouble.
        FramedPhoto framed;
        framed.frameDrawing = d;
        QVERIFY(!canvasLayers(framed, QSize(30, 20), QColor(Qt::white), false)
                     .overlay.rendered()
                     .isNull());
    }
};

QTEST_GUILESS_MAIN(TestFrameGeometry)
#include "test_framegeometry.moc"
