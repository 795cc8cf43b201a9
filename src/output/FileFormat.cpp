#include "FileFormat.h"

FileFormat fileFormatForCode(int code)
{
    switch (code) {
    case FormatPNG:
    case FormatTIFF:
    case FormatWEBP:
    case FormatAVIF:
        return FileFormat(code);
    default:
        return FormatJPEG;
    }
}

bool isLossyFormat(int code)
{
    const FileFormat format = fileFormatForCode(code);
    return format == FormatJPEG || format == FormatWEBP || format == FormatAVIF;
}
