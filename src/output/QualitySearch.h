#pragma once

#include <QByteArray>

#include <functional>

// The JPEG file-size search: qualities tried from the one asked for downward, each step
// sized by how far the last attempt overshot the limit.
namespace ImageWriter {

// The next quality to try after an attempt at quality `factor` came out `ratio` times the
// limit.
double nextFactorForFactor(double factor, double ratio);

// The file-size search on its own. `attempt` makes the complete file data for a quality
// (metadata attached), or an empty array when encoding failed, which ends the search.
// Gives the data of the first attempt under the limit, or an empty array when none fits
// (or the quality is 0 or less). With limitKB 0 the first attempt is taken whatever its
// size. attemptLog hears of every attempt.
using AttemptFunction = std::function<QByteArray(int quality)>;
QByteArray searchQuality(int quality, int limitKB, const AttemptFunction& attempt,
                         const std::function<void(int quality, qint64 bytes)>& attemptLog = {});

} // namespace ImageWriter
