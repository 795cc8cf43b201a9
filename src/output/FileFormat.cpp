#include "FileFormat.h"

FileFormat fileFormatForCode(int code)
{
    return (code == FormatPNG || code == FormatTIFF) ? FileFormat(code) : FormatJPEG;
}
