// JPEG writing of a 6000x4000 picture: one plain encode, and the file-size search with
// and without the guessed attempts on the other core. Prints medians in milliseconds.
//
//   bench_writer [runs] [limitKB]

#include "output/ImageWriter.h"
#include "output/JpegEncoder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImageWriter>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Smooth light with texture and grain, roughly as hard to compress as a photo.
QImage photoLike(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator rng(42);
    for (int y = 0; y < height; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const double fx = double(x) / width;
            const double fy = double(y) / height;
            const double texture =
                40 * std::sin(x * 0.05) * std::cos(y * 0.031) + 25 * std::sin((x + y) * 0.013);
            const int grain = int(rng.bounded(17)) - 8;
            auto c = [&](double v) { return std::clamp(int(v) + grain, 0, 255); };
            line[x] = qRgb(c(90 + 120 * fx + texture), c(70 + 100 * fy + texture * 0.7),
                           c(60 + 80 * (1 - fx) + texture * 0.4));
        }
    }
    return image;
}

double medianMs(int runs, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const int limitKB = argc > 2 ? std::max(1, atoi(argv[2])) : 2000;
    const QImage image = photoLike(6000, 4000);

    qint64 size90 = 0;
    const double prepare = medianMs(runs, [&] { JpegEncoder encoder(image); });
    const JpegEncoder encoder(image);
    const double encodeOnly = medianMs(runs, [&] { size90 = encoder.encode(90).size(); });
    const double libjpegRgb = medianMs(runs, [&] { JpegEncoder::encodeRgb(image, 90); });
    const double plain = medianMs(runs, [&] {
        ImageWriter::Options options;
        ImageWriter::encode(image, options);
    });
    const double qt = medianMs(runs, [&] {
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setQuality(90);
        writer.write(image);
    });

    QList<QPair<int, qint64>> attempts;
    qint64 limitedSize = 0;
    const double limited = medianMs(runs, [&] {
        attempts.clear();
        ImageWriter::Options options;
        options.limitKB = limitKB;
        options.attemptLog = [&](int q, qint64 b) { attempts.append({q, b}); };
        limitedSize = ImageWriter::encode(image, options).size();
    });
    const double sequential = medianMs(runs, [&] {
        const JpegEncoder own(image);
        ImageWriter::searchQuality(90, limitKB, [&](int q) { return own.encode(q); });
    });

    std::printf("6000x4000, %d runs, medians in ms\n", runs);
    std::printf("  YCbCr planes (once per picture)     %8.1f\n", prepare);
    std::printf("  encode q90 from planes              %8.1f  (%lld bytes)\n", encodeOnly,
                static_cast<long long>(size90));
    std::printf("  libjpeg RGB path q90                %8.1f\n", libjpegRgb);
    std::printf("  Qt JPEG writer q90                  %8.1f\n", qt);
    std::printf("  ImageWriter::encode q90, no limit   %8.1f\n", plain);
    std::printf("  size search, limit %d KB          %8.1f  (%lld bytes)\n", limitKB, limited,
                static_cast<long long>(limitedSize));
    std::printf("  same search, one core, no guessing  %8.1f\n", sequential);
    std::printf("  attempts:");
    for (const auto& [q, b] : attempts)
        std::printf(" q%d=%lld", q, static_cast<long long>(b));
    std::printf("\n  search / plain export: %.2fx\n", limited / plain);
    return 0;
}
