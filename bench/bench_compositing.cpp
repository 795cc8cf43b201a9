// Medians of the compositing hot paths: a preview drag step with the cached overlay (also at
// scale 2), the view-size overlay built from a large gray mask, and the full-resolution
// composite.
#include "compositing/BorderCompositor.h"
#include "compositing/FramedPhoto.h"
#include "compositing/ImageProcessor.h"

#include <QCoreApplication>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

namespace {

QImage makePhoto(int w, int h)
{
    QImage photo(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(photo.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = qRgb(x * 255 / w, y * 255 / h, (x ^ y) & 0xff);
    }
    return photo;
}

// White border fading into a black opening, like a typical mask frame.
QImage makeGrayMask(int w, int h)
{
    QImage mask(w, h, QImage::Format_Grayscale8);
    const int edge = std::min(w, h) / 8;
    for (int y = 0; y < h; ++y) {
        uchar* row = mask.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const int d = std::min({x, y, w - 1 - x, h - 1 - y});
            row[x] = uchar(d >= edge ? 0 : 255 - d * 255 / edge);
        }
    }
    return mask;
}

// Opaque outside rounded corners, clear inside, with a soft edge: what post masks cut.
QImage makeCornerPostMask(int w, int h)
{
    QImage mask(w, h, QImage::Format_ARGB32);
    const double r = std::min(w, h) / 10.0;
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(mask.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const double cx = std::clamp(double(x), r, w - 1 - r);
            const double cy = std::clamp(double(y), r, h - 1 - r);
            const double d = std::hypot(x - cx, y - cy) - r; // > 0 outside the corner arc
            const int a = int(std::clamp(d * 128 + 128, 0.0, 255.0));
            row[x] = qRgba(0, 0, 0, a);
        }
    }
    return mask;
}

QImage makeAlphaFrame(int w, int h)
{
    QImage mask = makeGrayMask(w, h);
    QImage frame(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        const uchar* m = mask.constScanLine(y);
        auto* row = reinterpret_cast<QRgb*>(frame.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = qRgba(120, 80, 40, m[x]);
    }
    return frame;
}

double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Medians {
    double wall;
    double cpu; // all threads together: tells a busy machine from slow code
};

Medians medianMs(int runs, const std::function<void(int)>& work)
{
    std::vector<double> wall, cpu;
    work(-1); // warm-up
    for (int i = 0; i < runs; ++i) {
        const double cpuStart = processCpuMs();
        const auto start = std::chrono::steady_clock::now();
        work(i);
        const auto end = std::chrono::steady_clock::now();
        cpu.push_back(processCpuMs() - cpuStart);
        wall.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

// An optional first argument picks the sections whose names contain it.
const char* g_filter = nullptr;

bool wanted(const char* section)
{
    return !g_filter || std::strstr(section, g_filter);
}

void report(const char* name, Medians m, double target)
{
    std::printf("%-62s median %8.2f ms  cpu %8.2f ms  (target < %g ms)\n", name, m.wall, m.cpu,
                target);
    std::fflush(stdout);
}

FramedPhoto framed(const QImage& photo, const QImage& frame, const QImage& postMask)
{
    FramedPhoto f;
    f.photo = photo;
    f.frame = frame;
    f.postMask = postMask;
    f.offset = QPointF(100, -50);
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1)
        g_filter = argv[1];
    using namespace BorderCompositor;
    const std::optional<QColor> white = QColor(Qt::white);

    if (wanted("preview")) {
        const QImage reduced = makePhoto(1200, 800);
        const QImage mask = makeGrayMask(3000, 2000);
        const QImage postMask = makeCornerPostMask(3000, 2000);
        const QImage full(6000, 4000, QImage::Format_RGB32); // only its size counts
        const FramedPhoto plain = framed(full, mask, QImage());
        const FramedPhoto withPostMask = framed(full, mask, postMask);
        OverlayCache cache;
        report("preview drag step 1200x800, cached overlay",
               medianMs(200,
                        [&](int i) {
                            compositePreview(plain, reduced, QPointF(i % 40, -(i % 30)), cache,
                                             QSize(1200, 800));
                        }),
               3);
        OverlayCache cacheWithMask;
        report("preview drag step 1200x800, cached overlay + post mask",
               medianMs(200,
                        [&](int i) {
                            compositePreview(withPostMask, reduced, QPointF(i % 40, -(i % 30)),
                                             cacheWithMask, QSize(1200, 800));
                        }),
               3);
        // The same window on a display at scale 2: the view is drawn at device pixels.
        const QImage reduced2x = makePhoto(2400, 1600);
        OverlayCache cache2x;
        report("preview drag step 1200x800 at scale 2 (2400x1600), cached overlay",
               medianMs(200,
                        [&](int i) {
                            compositePreview(plain, reduced2x, QPointF(2 * (i % 40), -2 * (i % 30)),
                                             cache2x, QSize(2400, 1600));
                        }),
               3);
    }
    if (wanted("overlay")) {
        const QImage mask = makeGrayMask(3000, 2000);
        report("view-size overlay 1200x800 from 3000x2000 gray mask",
               medianMs(30,
                        [&](int) {
                            OverlayCache cache;
                            buildOverlayCache(cache, mask, QImage(), white, false,
                                              QSize(1200, 800));
                        }),
               25);
        report("view-size overlay, turned",
               medianMs(30,
                        [&](int) {
                            OverlayCache cache;
                            buildOverlayCache(cache, mask, QImage(), white, true, QSize(1200, 800));
                        }),
               25);
    }
    if (wanted("full")) {
        const QImage photo = makePhoto(6000, 4000);
        const QImage mask = makeGrayMask(1500, 1000);
        const QImage alphaFrame = makeAlphaFrame(1500, 1000);
        const QImage portraitMask = makeGrayMask(1000, 1500);
        const QImage postMask = makeCornerPostMask(1000, 1500);
        for (int bands : {1, 0}) {
            const char* suffix = bands == 1 ? "one thread" : "all cores";
            char name[100];
            std::snprintf(name, sizeof name, "full resolution 6000x4000, gray mask 1500x1000, %s",
                          suffix);
            report(
                name,
                medianMs(
                    7, [&](int) { compositeFullResolution(framed(photo, mask, QImage()), bands); }),
                250);
            std::snprintf(name, sizeof name,
                          "full resolution 6000x4000, turned mask + post mask, %s", suffix);
            report(name,
                   medianMs(7,
                            [&](int) {
                                compositeFullResolution(framed(photo, portraitMask, postMask),
                                                        bands);
                            }),
                   250);
            std::snprintf(name, sizeof name, "full resolution 6000x4000, alpha frame, %s", suffix);
            report(name,
                   medianMs(7,
                            [&](int) {
                                compositeFullResolution(framed(photo, alphaFrame, QImage()), bands);
                            }),
                   250);
        }
    }
    return 0;
}
