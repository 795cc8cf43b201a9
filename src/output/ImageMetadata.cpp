#include "output/ImageMetadata.h"

struct ImageMetadata::Data {};

ImageMetadata::ImageMetadata() = default;
ImageMetadata::ImageMetadata(const ImageMetadata& other)
    : _d(other._d ? std::make_unique<Data>(*other._d) : nullptr)
{
}
ImageMetadata& ImageMetadata::operator=(const ImageMetadata& other)
{
    if (this != &other)
        _d = other._d ? std::make_unique<Data>(*other._d) : nullptr;
    return *this;
}
ImageMetadata::ImageMetadata(ImageMetadata&&) noexcept = default;
ImageMetadata& ImageMetadata::operator=(ImageMetadata&&) noexcept = default;
ImageMetadata::~ImageMetadata() = default;

ImageMetadata ImageMetadata::metadataForFile(const QString&)
{
    return {};
}
ImageMetadata ImageMetadata::metadataForData(const QByteArray&)
{
    return {};
}
bool ImageMetadata::isEmpty() const
{
    return true;
}
bool ImageMetadata::hasExif() const
{
    return false;
}
bool ImageMetadata::hasIptc() const
{
    return false;
}
bool ImageMetadata::hasXmp() const
{
    return false;
}
QByteArray ImageMetadata::iccProfile() const
{
    return {};
}
QString ImageMetadata::value(const QString&) const
{
    return {};
}
int ImageMetadata::orientation() const
{
    return 1;
}
QByteArray ImageMetadata::combineData(const QByteArray& encoded, int, QSize) const
{
    return encoded;
}
