// Start-up cost of the frame library: every collection read, with the thumbnail cache
// filled and with it empty. The frames are copies of the built-in library's own files, so
// sizes and formats are those a user meets.
//
// Usage: bench_frames [frames=300] [runs=7]

#include "foundation/Resources.h"
#include "frames/FrameLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThreadPool>

#include <algorithm>
#include <vector>

namespace {

QStringList builtinFrames()
{
    QStringList frames;
    const QString root = FrameLibrary::builtinFrameFolder();
    for (const QString& name : FrameLibrary::collectionNamesForFolder(root))
        for (const QString& path : FrameLibrary::frameCandidatesInFolder(QDir(root).filePath(name)))
            if (!path.contains(QStringLiteral("_postmask")))
                frames.append(path);
    return frames;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Reads the whole root as the panel does at start: names, then all collections at once.
int readAll(const QString& root)
{
    QStringList folders;
    for (const QString& name : FrameLibrary::collectionNamesForFolder(root))
        folders.append(QDir(root).filePath(name));
    int count = 0;
    for (const ThumbnailList& list : FrameLibrary::collectionsForFolders(folders))
        count += int(list.size());
    return count;
}

void dropCaches(const QString& root)
{
    for (const QString& name : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        QDir(QDir(root).filePath(name + "/tncache")).removeRecursively();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int frameCount = argc > 1 ? QString(argv[1]).toInt() : 300;
    const int runs = argc > 2 ? QString(argv[2]).toInt() : 7;
    QTextStream out(stdout);

    const QStringList sources = builtinFrames();
    if (sources.isEmpty()) {
        out << "no built-in frames found under " << FrameLibrary::builtinFrameFolder() << "\n";
        return 1;
    }
    QTemporaryDir dir;
    const QString root = dir.filePath("root");
    qint64 bytes = 0;
    for (int i = 0; i < frameCount; ++i) {
        const QString folder = QStringLiteral("%1/Set %2").arg(root).arg(i / 30, 2, 10, QChar('0'));
        QDir().mkpath(folder);
        const QString source = sources[i % sources.size()];
        const QString copy = QStringLiteral("%1/%2 %3.%4")
                                 .arg(folder, QFileInfo(source).completeBaseName())
                                 .arg(i)
                                 .arg(QFileInfo(source).suffix());
        QFile::copy(source, copy);
        bytes += QFileInfo(copy).size();
    }
    out << frameCount << " frames (" << bytes / 1024 << " KB) in " << (frameCount + 29) / 30
        << " collections, " << QThreadPool::globalInstance()->maxThreadCount() << " threads\n";

    auto measure = [&](bool cached, int threads) {
        QThreadPool::globalInstance()->setMaxThreadCount(threads);
        std::vector<double> times;
        int shown = 0;
        for (int r = 0; r < runs; ++r) {
            if (!cached)
                dropCaches(root);
            else if (r == 0)
                readAll(root); // fills the cache
            QElapsedTimer timer;
            timer.start();
            shown = readAll(root);
            times.push_back(timer.nsecsElapsed() / 1e6);
        }
        out << (cached ? "cached" : "empty cache") << ", " << threads << " thread(s): median "
            << QString::number(median(times), 'f', 1) << " ms over " << runs << " runs (" << shown
            << " thumbnails)\n";
        out.flush();
    };
    const int cores = QThread::idealThreadCount();
    measure(true, cores);
    measure(false, cores);
    if (cores > 1) {
        measure(true, 1);
        measure(false, 1);
    }
    return 0;
}
