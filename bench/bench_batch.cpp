// Batches: velluma-frame's throughput and peak memory with -j against single-photo runs,
// and how fast the window answers input while it frames a set.
//
//   bench_batch frame VELLUMA_FRAME [photos=100] [megapixels=24]
//   bench_batch window [photos=24] [megapixels=24]

#include "BenchPhotos.h"
#include "app/AppController.h"
#include "app/BatchSheet.h"
#include "foundation/UserDefaults.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Usage {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKB = 0;
};

// One run of the program in a child of its own, so its peak memory is its alone.
Usage runChild(const QString& program, const QStringList& args)
{
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<QByteArray> bytes{QFile::encodeName(program)};
        for (const QString& arg : args)
            bytes.push_back(QFile::encodeName(arg));
        std::vector<char*> argv;
        for (QByteArray& b : bytes)
            argv.push_back(b.data());
        argv.push_back(nullptr);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    ::wait4(pid, &status, 0, &usage);
    Usage u;
    u.seconds = clock.nsecsElapsed() / 1e9;
    u.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                   usage.ru_stime.tv_usec / 1e6;
    u.peakKB = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "run failed (status %d)\n", status);
    return u;
}

QStringList makePhotos(const QString& folder, int count, double megapixels)
{
    const int width = int(std::sqrt(megapixels * 1e6 * 1.5));
    const int height = int(width / 1.5);
    const QImage photo = benchPhoto(width, height);
    QFile::remove(folder + "/p0.jpg");
    photo.save(folder + "/p0.jpg", "JPEG", 90);
    QStringList photos;
    for (int i = 0; i < count; ++i) {
        photos << folder + QStringLiteral("/p%1.jpg").arg(i);
        if (i > 0)
            QFile::copy(photos.first(), photos.last());
    }
    return photos;
}

int benchFrame(const QString& program, int count, double megapixels)
{
    QTemporaryDir dir;
    const QStringList photos = makePhotos(dir.path(), count, megapixels);
    const QString frame = dir.path() + "/frame.png";
    benchPhoto(1500, 1000, 200).save(frame);
    const int cores = QThread::idealThreadCount();

    std::vector<Usage> singles;
    for (int i = 0; i < 3; ++i) {
        QDir(dir.path() + "/single").removeRecursively();
        singles.push_back(
            runChild(program, {"-f", frame, "-o", dir.path() + "/single", photos.first()}));
    }
    std::sort(singles.begin(), singles.end(),
              [](const Usage& a, const Usage& b) { return a.seconds < b.seconds; });
    const Usage single = singles[1];
    std::printf("single photo (%.0f MP): %.2f s, %.2f s CPU, peak %ld MB\n", megapixels,
                single.seconds, single.cpuSeconds, single.peakKB / 1024);
    for (int jobs = 1; jobs <= cores; jobs *= 2) {
        QDir(dir.path() + "/batch").removeRecursively();
        const Usage batch = runChild(program, QStringList{"-f", frame, "-j", QString::number(jobs),
                                                          "-o", dir.path() + "/batch"} +
                                                  photos);
        const double budget = 1.15 * count / double(jobs) * single.seconds;
        std::printf("%d photos, -j %d: %.1f s (%.2f s a photo), %.1f s CPU, peak %ld MB; "
                    "target %.1f s and %ld MB\n",
                    count, jobs, batch.seconds, batch.seconds / count, batch.cpuSeconds,
                    batch.peakKB / 1024, budget, (jobs * single.peakKB) / 1024 + 20);
    }
    return 0;
}

// A timer asks for the event loop every 20 ms while the sheet frames; how late each
// answer comes is the wait an input event would have.
int benchWindow(int count, double megapixels)
{
    QTemporaryDir dir;
    const QStringList photos = makePhotos(dir.path(), count, megapixels);
    UserDefaults defaults(dir.path() + "/prefs.plist");
    AppController app(defaults);
    app.mainWindow()->show();
    QList<QByteArray> names;
    for (const QString& photo : photos)
        names << QFile::encodeName(photo);
    app.frameSeveral(names);
    BatchSheet* sheet = app.batchSheet();
    sheet->setFolder(dir.path() + "/out");

    // The same probe before framing (only the thumbnails are read): what the machine's own
    // load adds.
    for (const bool framing : {false, true}) {
        std::vector<double> late;
        QTimer probe;
        probe.setInterval(20);
        QElapsedTimer since;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            late.push_back(std::max(0.0, since.nsecsElapsed() / 1e6 - 20));
            since.restart();
        });
        QEventLoop loop;
        QObject::connect(sheet, &BatchSheet::batchEnded, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        if (framing)
            sheet->start();
        else
            QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        since.start();
        probe.start();
        loop.exec();
        probe.stop();
        std::sort(late.begin(), late.end());
        if (late.empty())
            return 1;
        std::printf("%s %.1f s: input answered late by median %.1f ms, 99th %.1f ms, worst "
                    "%.1f ms (%zu probes; target 100 ms)\n",
                    framing ? qPrintable(QStringLiteral("window framing %1 photos of %2 MP in")
                                             .arg(count)
                                             .arg(megapixels))
                            : "window before framing, thumbnails being read,",
                    clock.elapsed() / 1e3, late[late.size() / 2], late[late.size() * 99 / 100],
                    late.back(), late.size());
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("frame") && args.size() >= 3)
        return benchFrame(args[2], args.value(3, "100").toInt(), args.value(4, "24").toDouble());
    if (mode == QLatin1String("window"))
        return benchWindow(args.value(2, "24").toInt(), args.value(3, "24").toDouble());
    std::fprintf(stderr, "usage: bench_batch frame VELLUMA_FRAME [photos] [megapixels]\n"
                         "       bench_batch window [photos] [megapixels]\n");
    return 2;
}
