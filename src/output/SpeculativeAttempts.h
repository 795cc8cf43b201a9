#pragma once

#include "output/JpegEncoder.h"

#include <QByteArray>
#include <QFuture>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

// Encodes the qualities the search is likely to ask for next on the other core while the
// current one is encoded, so that a search of several attempts takes about half as long.
// The search itself is unchanged: an attempt is only ever taken from an encode of exactly
// the quality asked for, and guesses that turn out wrong are cancelled.
// Called as the attempt of the file-size search; finish attaches the metadata.
class SpeculativeAttempts {
public:
    SpeculativeAttempts(const JpegEncoder& encoder, qint64 limit,
                        std::function<QByteArray(const QByteArray&)> finish);
    ~SpeculativeAttempts();
    SpeculativeAttempts(const SpeculativeAttempts&) = delete;
    SpeculativeAttempts& operator=(const SpeculativeAttempts&) = delete;

    QByteArray operator()(int quality);

private:
    struct Job {
        std::shared_ptr<std::atomic_bool> cancel;
        QFuture<QByteArray> future;
    };

    void start(int quality);
    qint64 rawEstimate(int quality);
    int guessNext(int quality);

    const JpegEncoder& _encoder;
    const qint64 _limit;
    std::function<QByteArray(const QByteArray&)> _finish;
    JpegEncoder _sample;
    double _scale = 1;
    double _correction = 1;
    std::map<int, qint64> _sampleSizes;
    std::map<int, Job> _jobs;
    QThreadPool _pool;
};
