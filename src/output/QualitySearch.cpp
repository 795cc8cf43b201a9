#include "output/QualitySearch.h"

namespace ImageWriter {

double nextFactorForFactor(double factor, double ratio)
{
    // The quality and ratio arrive in single precision; r meets 3, 2 and 1.5 in single
    // precision and every other bound widened to double, which decides the cases that
    // land exactly on a bound (1.1f is a little above 1.1).
    const float q = float(factor);
    const float r = float(ratio);
    const double rd = double(r);
    const bool high = q >= 95.0f;
    float next;
    if (r > 3.0f) {
        if (q == 100.0f)
            next = 95.0f;
        else if (q >= 97.0f && q < 100.0f)
            next = q - 20.0f;
        else
            next = q - 40.0f;
    } else if (r > 2.0f) {
        next = high ? q - 5.0f : q - 30.0f;
    } else if (rd > 1.7) {
        next = high ? q - 5.0f : q - 20.0f;
    } else if (rd > 1.6) {
        next = high ? q - 5.0f : q - 16.0f;
    } else if (r > 1.5f) {
        next = high ? q - 5.0f : q - 13.0f;
    } else if (rd > 1.4) {
        next = high ? q - 5.0f : q - 10.0f;
    } else if (rd > 1.3) {
        next = high ? q - 4.0f : q - 9.0f;
    } else if (rd > 1.2) {
        next = high ? q - 4.0f : q - 8.0f;
    } else if (rd > 1.17) {
        next = high ? q - 3.0f : q - 7.0f;
    } else if (rd > 1.15) {
        next = high ? q - 2.0f : q - 6.0f;
    } else if (rd > 1.13) {
        next = high ? q - 2.0f : q - 5.0f;
    } else if (rd > 1.1) {
        next = high ? q - 2.0f : q - 4.0f;
    } else if (rd > 1.07) {
        next = high ? q - 2.0f : q - 3.0f;
    } else if (rd > 1.03) {
        next = q - 2.0f;
    } else {
        next = q - 1.0f;
    }
    return double(next);
}

QByteArray searchQuality(int quality, int limitKB, const AttemptFunction& attempt,
                         const std::function<void(int, qint64)>& attemptLog)
{
    const qint64 limit = limitKB > 0 ? qint64(limitKB) << 10 : 0;
    const float limitF = float(limit);
    int q = quality;
    while (q > 0) {
        QByteArray data = attempt(q);
        // An encoder that fails once fails at every quality; trying on would only waste
        // time before giving the same answer.
        if (data.isEmpty())
            return {};
        if (attemptLog)
            attemptLog(q, data.size());
        // Exactly the limit is too large.
        if (limit == 0 || data.size() < limit)
            return data;
        const float ratio = float(data.size()) / limitF;
        q = int(nextFactorForFactor(float(q), ratio));
    }
    return {};
}

} // namespace ImageWriter
