// The window's export of a large photo: what writing the framed photo adds to the memory
// the open photo already takes, and how long it takes. An alpha frame of 1500x1000 is
// stretched over the photo and the file written as the window writes it. Each case starts
// from the same resident memory; its peak above that is what the export added.
//
// Usage: bench_export [width=12000] [height=8000]

#include "BenchPhotos.h"
#include "compositing/ExportRenderer.h"
#include "compositing/FramedPhoto.h"
#include "output/FileFormat.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <functional>

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

    auto run = [&](const char* name, int format, int limitKB, bool copy,
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
    run("JPEG q90", FormatJPEG, 0, false, [](qint64 added) {
        std::printf("  window export adds %lld MB to the open photo (<= 150: %s)\n", added,
                    added <= 150 ? "ok" : "OVER");
    });
    run("JPEG q90, under 8000 KB", FormatJPEG, 8000, false, {});
    run("copy (JPEG and full picture)", FormatJPEG, 0, true, {});
    run("PNG", FormatPNG, 0, false, {});
    run("TIFF", FormatTIFF, 0, false, {});
    return 0;
}
