#pragma once

// File format codes: the tags of the format pop-ups, the values stored as FileFormat and
// the writers' argument.
enum FileFormat : int {
    FormatJPEG = 101,
    FormatPNG = 102,
    FormatTIFF = 103,
    FormatGIF = 104, // only the proxy icon's choice of document icon
    FormatWEBP = 105,
    FormatAVIF = 106,
};

// The one reading of a code: PNG, TIFF, WebP and AVIF are themselves, every other code (a
// stored value from elsewhere, a tag that was never set) is JPEG.
FileFormat fileFormatForCode(int code);

// Written at a quality, so the file-size limit applies: JPEG, WebP, AVIF.
bool isLossyFormat(int code);
