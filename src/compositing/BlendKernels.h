#pragma once

#include <QtGlobal>

#include <cstdint>

// The per-row blends of the composite, on rows of premultiplied ARGB32 pixels (the canvas
// rows of a QImage of Format_ARGB32_Premultiplied). Each gives the same values with and
// without SSE2, so the result does not depend on the machine.
namespace BlendKernels {

// The overlay row o over out (source-over), or its alpha cut out of out (destination-out).
void overlayRow(uint32_t* out, const uint32_t* o, int w, bool destinationOut);

// Cuts the alpha row m (Alpha8) out of out.
void cutRow(uint32_t* out, const uchar* m, int w);

// The premultiplied colour behind out.
void colorBehindRow(uint32_t* out, uint32_t color, int w);

// n photo pixels into out, their alpha or-ed with opaque (0xff000000 for RGB32, whose top
// byte is not trusted, else 0).
void copyPhotoRow(uint32_t* out, const uint32_t* in, int n, uint32_t opaque);

} // namespace BlendKernels
