#pragma once

#include "compositing/FrameGeometry.h"
#include "compositing/VectorImage.h"
#include "output/ImageMetadata.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QString>

#include <memory>
#include <optional>

// The open document: everything that decides the framed picture. The preview shows it, the
// export renders it and the batch framer builds one per photo, so what is seen is what is
// written. A value: copies share the pixels, and a copy taken for an export stays as it was
// while the user goes on changing the original.
struct FramedPhoto {
    QImage photo;    // at its pixel size; null: no photo
    QImage frame;    // already mirrored when flipped; null: no frame
    QImage postMask; // mirrored like the frame; null: none
    // A frame or post mask drawn as SVG (then the image above is null), already mirrored.
    std::shared_ptr<const VectorImage> frameDrawing;
    std::shared_ptr<const VectorImage> postMaskDrawing;
    // How the frame lies on the photo (its "_frame.plist"), mirrored with it.
    FrameGeometry geometry;
    std::optional<QColor> color = QColor(Qt::white); // none: transparent background
    bool autoRotate = true; // a quarter turn when frame and photo differ in orientation
    QPointF offset;         // the photo's place inside the frame, full-size pixels, y upward

    // Where the frame came from and whether it is mirrored, so that it can be read again.
    QString framePath;
    bool flipped = false;
    // The photo's metadata; never null.
    std::shared_ptr<const ImageMetadata> metadata = std::make_shared<const ImageMetadata>();

    bool hasPhoto() const { return !photo.isNull(); }
    bool hasFrame() const { return !frame.isNull() || frameDrawing != nullptr; }
    bool hasPostMask() const { return !postMask.isNull() || postMaskDrawing != nullptr; }
    // The frame's own size, which decides the quarter turn: a drawing's view box, rounded
    // (enlarged first when small, so that its shape shows); empty without a frame.
    QSize frameSize() const;
    // A bitmap frame stretched whole, with a bitmap post mask or none: drawn as it always
    // was, from a copy at the frame's size.
    bool isPlainFrame() const { return !frameDrawing && !postMaskDrawing && geometry.isPlain(); }

    // What decides the composite's pixels: the images (by identity), the colour, the turning
    // rule and the whole-pixel offset. The metadata and the frame's origin do not count.
    // Holds no pixels, so a render can be remembered without keeping its inputs alive.
    struct CompositeKey {
        qint64 photo = 0;
        qint64 frame = 0;
        qint64 postMask = 0;
        quint64 frameDrawing = 0;
        quint64 postMaskDrawing = 0;
        FrameGeometry geometry;
        std::optional<QColor> color;
        bool autoRotate = true;
        QPoint offset;
        bool operator==(const CompositeKey&) const = default;
    };
    CompositeKey compositeKey() const;
};

// The photo's place in canvas pixels: whole pixels, y turned downward.
QPoint canvasOffset(QPointF offset);
