#pragma once

// The formats a framed photo is written in. The settings store them, and the format
// pop-ups tag their items, by the codes below; past those two places a format is this type.
enum class FileFormat {
    Jpeg = 101,
    Png = 102,
    Tiff = 103,
    Gif = 104, // only the proxy icon's choice of document icon
    WebP = 105,
    Avif = 106,
};

// The one reading of a stored code or tag: PNG, TIFF, WebP and AVIF are themselves, every
// other code (a stored value from elsewhere, a tag that was never set) is JPEG.
FileFormat fileFormatForCode(int code);
// The code stored for a format and tagged on its pop-up item.
constexpr int codeForFileFormat(FileFormat format)
{
    return int(format);
}

// Written at a quality, so the file-size limit applies: JPEG, WebP, AVIF.
bool isLossyFormat(FileFormat format);
