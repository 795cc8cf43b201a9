#pragma once

#include "compositing/FrameGeometry.h"
#include "compositing/VectorImage.h"

#include <QImage>

#include <memory>

// A frame as read from its files, ready to be laid on a photo: the frame and its post mask
// (each a bitmap or a drawing), already mirrored when asked, and how it is laid out.
struct LoadedFrame {
    QImage frame;
    QImage postMask; // null when the frame has none (or it is a drawing)
    std::shared_ptr<const VectorImage> frameDrawing;
    std::shared_ptr<const VectorImage> postMaskDrawing;
    FrameGeometry geometry;
};
