#include "output/ImageWriter.h"

namespace ImageWriter {

QByteArray encode(const QImage&, const Options&, QString*)
{
    return {};
}

bool writeImage(const QImage&, const QString&, const Options&, QString*)
{
    return false;
}

double nextFactorForFactor(double factor, double)
{
    return factor - 1;
}

QByteArray searchQuality(int, int, const AttemptFunction&, const std::function<void(int, qint64)>&)
{
    return {};
}

} // namespace ImageWriter
