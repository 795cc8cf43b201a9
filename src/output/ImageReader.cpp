#include "output/ImageReader.h"

namespace ImageReader {

QImage readImage(const QString&, QString*)
{
    return {};
}

bool canRead(const QString&)
{
    return false;
}

QStringList nameFilters()
{
    return {};
}

void installAllocationLimit() {}

} // namespace ImageReader
