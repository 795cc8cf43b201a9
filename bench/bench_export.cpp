// The window's export of a large photo: what writing the framed photo adds to the memory
// the open photo already takes, and how long it takes. An alpha frame of 1500x1000 is
// stretched over the photo and the file written as the window writes it. Each case starts
// from the same resident memory; its peak above that is what the export added.
//
// Then a frame drawn as SVG at 6000x4000, the size of a 24 MP photo: the drawing alone,
// and the export with it beside the same export with a bitmap frame, against the
// compositing budget of 250 ms for a full-resolution composite.
//
// Usage: bench_export [width=12000] [height=8000]

#include "BenchPhotos.h"
#include "compositing/BorderCompositor.h"
#include "compositing/ExportRenderer.h"
#include "compositing/FrameLayer.h"
#include "compositing/FramedPhoto.h"
#include "compositing/VectorImage.h"
#include "output/FileFormat.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

// Resident and peak resident memory of this process in kB, from the kernel's status file.
qint64 statusKB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// Sets the peak back to what is resident now (Linux 4.0 on).
bool resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

QImage alphaFrame(int width, int height)
{
    QImage frame(width, height, QImage::Format_ARGB32);
    frame.fill(qRgba(240, 236, 228, 255));
    for (int y = 80; y < height - 80; ++y)
        for (int x = 80; x < width - 80; ++x)
            frame.setPixel(x, y, qRgba(0, 0, 0, 0));
    return frame;
}

// A film strip as the frame generator draws one: a dark border with 2 x 18 rounded
// sprocket holes and an opening, 1200 x 800 units.
QByteArray filmStripSvg()
{
    QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1200 800\">"
                     "<path fill-rule=\"evenodd\" fill=\"#161616\" "
                     "d=\"M0 0H1200V800H0Z M24 120V680H1176V120Z\"/><g fill=\"#eeeae0\">";
    for (int k = 0; k < 18; ++k)
        for (int y : {40, 712})
            svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"28\" height=\"40\" "
                                  "rx=\"6\"/>")
                       .arg(40 + 64 * k)
                       .arg(y)
                       .toUtf8();
    return svg + "</g></svg>";
}

void drawingSection(const QString& folder)
{
    const QSize size(6000, 4000);
    std::printf("\nframe drawn as SVG at %dx%d:\n", size.width(), size.height());
    FramedPhoto framed;
    framed.photo = benchPhoto(size.width(), size.height());
    framed.frameDrawing = VectorImage::fromData(filmStripSvg());
    FrameGeometry nineParts;
    nineParts.hasInsets = true;
    nineParts.left = nineParts.right = 24;
    nineParts.top = nineParts.bottom = 120;
    nineParts.edges = FrameGeometry::Edges::Tile;
    auto median = [](int runs, const std::function<void()>& work) {
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer timer;
            timer.start();
            work();
            times.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    for (const bool tiled : {false, true}) {
        framed.geometry = tiled ? nineParts : FrameGeometry();
        const BorderCompositor::CanvasLayers layers =
            BorderCompositor::canvasLayers(framed, size, QColor(Qt::white), false);
        const double drawing = median(5, [&] {
            FrameLayer::Rows rows(&layers.overlay);
            for (int y = 0; y < size.height(); ++y)
                rows.row(y);
        });
        const double composite =
            median(5, [&] { BorderCompositor::compositeFullResolution(framed, 0); });
        std::printf("  %-30s drawing %6.1f ms, full composite %6.1f ms (<= 250: %s)\n",
                    tiled ? "nine parts, tiled edges" : "stretched whole", drawing, composite,
                    composite <= 250 ? "ok" : "OVER");
    }
    // The whole JPEG export beside the same export with a bitmap frame.
    for (const bool vector : {true, false}) {
        FramedPhoto document = framed;
        if (!vector) {
            document.frameDrawing = nullptr;
            document.frame = alphaFrame(1500, 1000);
        }
        ExportRenderer renderer;
        const QString path = folder + QStringLiteral("/drawn");
        const qint64 before = statusKB("VmRSS:");
        resetPeak();
        QElapsedTimer timer;
        timer.start();
        const bool written =
            !renderer.writeImageToFile(document, path, ExportRenderer::Options()).isEmpty();
        std::printf("  JPEG export, %-17s %6.2f s  +%5lld MB%s\n",
                    vector ? "SVG frame" : "bitmap 1500x1000", timer.nsecsElapsed() / 1e9,
                    (statusKB("VmHWM:") - before) / 1024, written ? "" : "  (failed)");
        QFile::remove(path);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int width = argc > 1 ? std::max(16, atoi(argv[1])) : 12000;
    const int height = argc > 2 ? std::max(16, atoi(argv[2])) : 8000;
    QTemporaryDir dir;
    if (!dir.isValid() || !resetPeak()) {
        std::fprintf(stderr, "bench_export: no temporary folder, or the peak cannot be reset\n");
        return 1;
    }

    FramedPhoto framed;
    framed.photo = benchPhoto(width, height);
    framed.frame = alphaFrame(1500, 1000);
    const qint64 holding = statusKB("VmRSS:");
    std::printf("photo %dx%d (%.0f MP): the process holds %lld MB with it open\n", width, height,
                width * double(height) / 1e6, holding / 1024);

    auto run = [&](const char* name, FileFormat format, int limitKB, bool copy,
                   const std::function<void(qint64 addedMB)>& verdict) {
        ExportRenderer renderer;
        ExportRenderer::Options options;
        options.format = format;
        options.limitKB = limitKB;
        const QString path = dir.filePath(QStringLiteral("framed"));
        const qint64 before = statusKB("VmRSS:");
        resetPeak();
        QElapsedTimer timer;
        timer.start();
        QImage full;
        if (copy)
            full = renderer.fullResolutionImage(framed);
        QString error;
        const bool written = !renderer.writeImageToFile(framed, path, options, &error).isEmpty();
        const double seconds = timer.nsecsElapsed() / 1e9;
        const qint64 added = (statusKB("VmHWM:") - before) / 1024;
        full = QImage();
        QFile::remove(path);
        if (!written) {
            std::printf("  %-30s failed: %s\n", name, qPrintable(error));
            return;
        }
        std::printf("  %-30s %6.2f s  +%5lld MB\n", name, seconds, added);
        if (verdict)
            verdict(added);
    };
    run("JPEG q90", FileFormat::Jpeg, 0, false, [](qint64 added) {
        std::printf("  window export adds %lld MB to the open photo (<= 150: %s)\n", added,
                    added <= 150 ? "ok" : "OVER");
    });
    run("JPEG q90, under 8000 KB", FileFormat::Jpeg, 8000, false, {});
    run("copy (JPEG and full picture)", FileFormat::Jpeg, 0, true, {});
    run("PNG", FileFormat::Png, 0, false, {});
    run("TIFF", FileFormat::Tiff, 0, false, {});
    framed = FramedPhoto();
    drawingSection(dir.path());
    return 0;
}
