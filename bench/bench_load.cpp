// Memory under load. The batch framer's peak resident memory over 20 and over 200 photos
// with 2 jobs, measured by /usr/bin/time -v: a batch holds only the photos being framed,
// so the two peaks must be about equal. Then the window's code path opens and closes a
// photo 500 times; what stays resident after the first 50 cycles is the baseline, and
// growth beyond 4 MB by the 500th is a leak. Exits 1 when either does not hold.
//
// Usage: bench_load path/to/velluma-frame [photo width=3000] [photo height=2000]

#include "BenchPhotos.h"
#include "app/AppController.h"
#include "app/MainInterface.h"
#include "foundation/UserDefaults.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>
#include <malloc.h>

namespace {

qint64 residentKB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// A frame with a transparent window, as most frames are.
QImage frame(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(qRgba(120, 80, 40, 255));
    for (int y = height / 8; y < height * 7 / 8; ++y)
        for (int x = width / 8; x < width * 7 / 8; ++x)
            image.setPixel(x, y, qRgba(0, 0, 0, 0));
    return image;
}

// Peak resident memory of one batch in kB and its wall time in seconds; -1 on failure.
std::pair<qint64, double> batchPeak(const QString& framer, const QStringList& photos,
                                    const QString& framePath, const QString& out)
{
    QDir(out).removeRecursively();
    QProcess time;
    time.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    clock.start();
    time.start(QStringLiteral("/usr/bin/time"),
               QStringList{QStringLiteral("-v"), framer, QStringLiteral("-j"), QStringLiteral("2"),
                           QStringLiteral("-f"), framePath, QStringLiteral("-o"), out} +
                   photos);
    if (!time.waitForFinished(-1) || time.exitCode() != 0) {
        std::fprintf(stderr, "%s\n", time.readAllStandardError().constData());
        return {-1, 0};
    }
    const double seconds = clock.elapsed() / 1000.0;
    const QString report = QString::fromLocal8Bit(time.readAllStandardError());
    const auto match =
        QRegularExpression(QStringLiteral("Maximum resident set size \\(kbytes\\): (\\d+)"))
            .match(report);
    if (QDir(out).entryList(QDir::Files).size() != photos.size())
        return {-1, 0};
    return {match.hasMatch() ? match.captured(1).toLongLong() : -1, seconds};
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_load path/to/velluma-frame [width] [height]\n");
        return 2;
    }
    const QString framer = QString::fromLocal8Bit(argv[1]);
    const int width = argc > 2 ? std::atoi(argv[2]) : 3000;
    const int height = argc > 3 ? std::atoi(argv[3]) : 2000;
    QTemporaryDir dir;
    bool ok = true;

    // The batch: one photo copied 200 times, each a file of its own.
    const QString first = dir.filePath(QStringLiteral("photo000.jpg"));
    if (!benchPhoto(width, height, 90).save(first, "JPEG", 90))
        return 2;
    const QString framePath = dir.filePath(QStringLiteral("frame.png"));
    if (!frame(1500, 1000).save(framePath))
        return 2;
    QStringList photos{first};
    for (int i = 1; i < 200; ++i) {
        photos << dir.filePath(QStringLiteral("photo%1.jpg").arg(i, 3, 10, QLatin1Char('0')));
        QFile::copy(first, photos.last());
    }
    std::printf("batch framer, %dx%d JPEG photos, 2 jobs, frame 1500x1000:\n", width, height);
    qint64 peaks[2] = {0, 0};
    for (int n : {20, 200}) {
        const auto [peak, seconds] =
            batchPeak(framer, photos.mid(0, n), framePath, dir.filePath(QStringLiteral("out")));
        if (peak < 0) {
            std::printf("  %3d photos: failed\n", n);
            return 1;
        }
        std::printf("  %3d photos: peak RSS %6lld MB, %.1f s\n", n, peak / 1024, seconds);
        peaks[n == 200] = peak;
    }
    // Flat: the 200-photo batch may not hold more than a tenth above the 20-photo one.
    if (peaks[1] > peaks[0] + peaks[0] / 10) {
        std::printf("  memory grows with the number of photos\n");
        ok = false;
    }

    // The window: open and close, alternating two photos with a frame chosen.
    const QString a = dir.filePath(QStringLiteral("a.jpg")),
                  b = dir.filePath(QStringLiteral("b.png"));
    benchPhoto(1200, 800, 40).save(a, "JPEG", 90);
    benchPhoto(900, 1200, 160).save(b);
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.plist")));
    AppController controller(defaults);
    controller.setBorderPath(framePath);
    qint64 baseline = 0;
    QElapsedTimer clock;
    clock.start();
    for (int cycle = 1; cycle <= 500; ++cycle) {
        if (!controller.applicationOpenFile(cycle % 2 ? a : b)) {
            std::printf("window: cycle %d did not open\n", cycle);
            return 1;
        }
        QCoreApplication::processEvents();
        controller.interface()->action(QStringLiteral("close"))->trigger();
        QCoreApplication::processEvents();
        if (cycle == 50 || cycle == 500) {
            ::malloc_trim(0);
            const qint64 rss = residentKB();
            if (cycle == 50)
                baseline = rss;
            else
                std::printf("window, 500 open/close cycles of 1200x800 JPEG and 900x1200 PNG "
                            "in a frame: RSS %lld MB after 50, %lld MB after 500 (%+lld kB), "
                            "%.1f s\n",
                            baseline / 1024, rss / 1024, rss - baseline, clock.elapsed() / 1000.0);
            if (cycle == 500 && rss - baseline > 4096) {
                std::printf("  the window's memory grows with each photo opened\n");
                ok = false;
            }
        }
    }
    return ok ? 0 : 1;
}
