#include "FileFormat.h"

FileFormat fileFormatForCode(int code)
{
    switch (FileFormat(code)) {
    case FileFormat::Png:
    case FileFormat::Tiff:
    case FileFormat::WebP:
    case FileFormat::Avif:
        return FileFormat(code);
    default:
        return FileFormat::Jpeg;
    }
}

bool isLossyFormat(FileFormat format)
{
    return format == FileFormat::Jpeg || format == FileFormat::WebP || format == FileFormat::Avif;
}
