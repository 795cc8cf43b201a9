#include "output/SpeculativeAttempts.h"

#include "output/QualitySearch.h"

#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

// The size estimate encodes one band of 16 rows in this many; it comes within a few per
// cent of the real size on photos.
constexpr int SampleStep = 16;
constexpr float LikelyFit = 0.9f;

} // namespace

SpeculativeAttempts::SpeculativeAttempts(const JpegEncoder& encoder, qint64 limit,
                                         std::function<QByteArray(const QByteArray&)> finish)
    : _encoder(encoder), _limit(limit), _finish(std::move(finish)),
      _sample(encoder.sample(SampleStep))
{
    _pool.setMaxThreadCount(2);
    _scale = double(encoder.bandCount()) / double(std::max(1, _sample.bandCount()));
}

SpeculativeAttempts::~SpeculativeAttempts()
{
    for (auto& [quality, job] : _jobs)
        job.cancel->store(true);
    _pool.waitForDone();
}

QByteArray SpeculativeAttempts::operator()(int quality)
{
    // Guesses above the quality asked for can no longer be wanted: qualities only fall.
    for (auto it = _jobs.begin(); it != _jobs.end();) {
        if (it->first > quality) {
            it->second.cancel->store(true);
            it = _jobs.erase(it);
        } else {
            ++it;
        }
    }
    start(quality);
    const int guess = guessNext(quality);
    for (auto it = _jobs.begin(); it != _jobs.end();) {
        if (it->first != quality && it->first != guess) {
            it->second.cancel->store(true);
            it = _jobs.erase(it);
        } else {
            ++it;
        }
    }
    if (guess > 0)
        start(guess);

    QFuture<QByteArray> future = _jobs[quality].future;
    const QByteArray data = future.result();
    _jobs.erase(quality);
    if (data.isEmpty())
        return {};
    QByteArray full = _finish(data);
    const qint64 estimate = rawEstimate(quality);
    if (estimate > 0)
        _correction = double(full.size()) / double(estimate);
    return full;
}

void SpeculativeAttempts::start(int quality)
{
    if (quality <= 0 || _jobs.count(quality))
        return;
    auto cancel = std::make_shared<std::atomic_bool>(false);
    const JpegEncoder* encoder = &_encoder;
    QFuture<QByteArray> future = QtConcurrent::run(
        &_pool, [encoder, quality, cancel] { return encoder->encode(quality, cancel.get()); });
    _jobs[quality] = Job{cancel, future};
}

qint64 SpeculativeAttempts::rawEstimate(int quality)
{
    auto it = _sampleSizes.find(quality);
    if (it == _sampleSizes.end())
        it = _sampleSizes.emplace(quality, _sample.encode(quality).size()).first;
    return qint64(double(it->second) * _scale);
}

int SpeculativeAttempts::guessNext(int quality)
{
    const double estimate = double(rawEstimate(quality)) * _correction;
    if (estimate <= 0)
        return 0;
    // A clear fit needs no next step; near the limit the estimate may be off either
    // way, so the next step is prepared all the same. Wasted encodes would slow the
    // batch framer, which keeps every core busy with photos of its own.
    const float ratio = float(estimate) / float(_limit);
    if (ratio < LikelyFit)
        return 0;
    return int(ImageWriter::nextFactorForFactor(float(quality), std::max(ratio, 1.0f)));
}
