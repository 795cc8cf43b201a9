#pragma once

#include <QByteArray>
#include <QMutex>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QTransform>

#include <memory>
#include <vector>

class QPainter;
class QSvgRenderer;

// A frame or post mask drawn as SVG: kept as its document and drawn at whatever size it is
// used at, never as a bitmap made once and enlarged. Immutable and shared between threads;
// each drawing borrows a parser of its own from a small pool.
class VectorImage {
public:
    // Documents larger than this are not frames.
    static constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;
    // View boxes whose sides leave this range, or whose shape is more extreme than
    // MaxAspect, are refused: nothing sensible can be drawn from them.
    static constexpr double MinSide = 1e-3;
    static constexpr double MaxSide = 1e6;
    static constexpr double MaxAspect = 1000;
    // Pictures carried inside a drawing, all together.
    static constexpr qint64 MaxPicturePixels = 16'000'000;

    // Null with a reason in *error when the data is not a drawable SVG document, shows
    // pictures from other files or drawings, expands beyond a bound, or holds text where
    // there are no fonts (no QGuiApplication).
    static std::shared_ptr<const VectorImage> fromData(const QByteArray& data,
                                                       QString* error = nullptr);
    static std::shared_ptr<const VectorImage> fromFile(const QString& path,
                                                       QString* error = nullptr);
    // True for names that end in .svg. Packed drawings (.svgz) are not read.
    static bool isVectorPath(const QString& path);

    // The same drawing mirrored left to right.
    std::shared_ptr<const VectorImage> flipped() const;

    // The view box's size: the drawing's own units.
    QSizeF size() const { return _viewBox.size(); }
    bool isFlipped() const { return _flipped; }
    // Tells drawings apart for caches: never the same for two different drawings.
    quint64 serial() const { return _serial; }

    // Draws the whole drawing with its own units (0, 0)..size() (after the mirroring)
    // mapped by toDevice on top of the painter's transform. Safe from several threads.
    void render(QPainter* painter, const QTransform& toDevice) const;

    ~VectorImage();
    VectorImage(const VectorImage&) = delete;
    VectorImage& operator=(const VectorImage&) = delete;

private:
    struct Pool {
        QMutex mutex;
        std::vector<std::unique_ptr<QSvgRenderer>> idle;
    };
    VectorImage(QByteArray data, QRectF viewBox, bool flipped, std::shared_ptr<Pool> pool);
    std::unique_ptr<QSvgRenderer> borrow() const;
    void giveBack(std::unique_ptr<QSvgRenderer> renderer) const;

    QByteArray _data;
    QRectF _viewBox;
    bool _flipped = false;
    quint64 _serial = 0;
    std::shared_ptr<Pool> _pool; // shared with the mirrored copy: same document
};
