#pragma once

// File format codes: the tags of the format pop-ups, the values stored as FileFormat and
// the writers' argument.
enum FileFormat : int {
    FormatJPEG = 101,
    FormatPNG = 102,
    FormatTIFF = 103,
    FormatGIF = 104, // only the proxy icon's choice of document icon
};

// The one reading of a code: PNG and TIFF are themselves, every other code (a stored value
// from elsewhere, a tag that was never set) is JPEG.
FileFormat fileFormatForCode(int code);
