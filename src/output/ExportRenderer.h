#pragma once

#include <QColor>
#include <QImage>
#include <QMutex>
#include <QPointF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class ImageMetadata;

// The full-resolution side of the preview: it holds the photo at full size and the frame
// inputs, renders the framed photo at full resolution once per change, writes it in the
// chosen format and remembers the file it wrote last, so that repeated requests (hovering
// over the proxy icon, copy after drag-out) get that file back without rendering or
// encoding again.
//
// The remembered file is tied to its path and to everything that went into it: a request
// for another path or format, or one made after any input changed, writes again. A file
// we did not write (an old file at a path the user chose) is never taken for the result.
//
// No GUI objects: every member may be called from any thread, so the window can run the
// long full-resolution work on a worker thread. Inputs changed while a write is under way
// make that write's result stale; it is then not remembered.
class ExportRenderer {
public:
    ExportRenderer();
    ~ExportRenderer();
    ExportRenderer(const ExportRenderer&) = delete;
    ExportRenderer& operator=(const ExportRenderer&) = delete;

    // Inputs of the composite. Each change discards the full-resolution render and the
    // remembered file; setting an equal value changes nothing.
    void setImage(const QImage& photo);        // the photo at its pixel size, or null
    void setBorderImage(const QImage& border); // already mirrored when flipped; null = none
    void setPostMask(const QImage& postMask);  // already mirrored when flipped; null = none
    void setBorderColor(const std::optional<QColor>& color); // nullopt = transparent
    void setAutoRotate(bool autoRotate); // the AutoRotateBorder preference (default on)
    // The photo's offset inside the frame as the preview has it: in points of the reduced
    // photo of width reducedWidth, y upward. A re-fit that rescales translation and width
    // together keeps the render, because the full-resolution offset stays the same.
    void setTranslation(QPointF translation, int reducedWidth);
    // The same offset given in full-resolution pixels, y upward (the batch framer).
    void setFullResolutionOffset(QPointF offset);

    // Inputs of the written file. A change makes the remembered file stale; the render stays.
    void setMetadata(const ImageMetadata& metadata); // the photo's; its colour profile is
                                                     // kept in every format
    void setPreserveMetadata(bool preserve);         // EXIF/IPTC/XMP into JPEG and TIFF
    void setFilesizeLimit(int limitKB);              // 0 = none (LimitFilesize off)
    // Used by writeTmpFile(): the document name, the output format and the JPEG quality
    // (a change of either of these two makes the remembered file stale too), and the
    // HideExtension preference (no Linux equivalent: kept, changes nothing).
    void setFileName(const QString& name);
    void setFileFormat(int format);
    void setJpegQuality(int quality);
    void setHideExtension(bool hide);
    // Told each JPEG attempt of the file-size search (quality, bytes).
    void setAttemptLog(std::function<void(int quality, qint64 bytes)> log);
    // Threads the full-resolution render may use; 0 (the default) = one per core.
    void setRenderThreads(int threads);

    bool hasImage() const;
    QPointF fullResolutionOffset() const; // the offset the render uses

    // The full-resolution composite, rendered on first demand and kept until an input
    // changes. Null without a photo.
    QImage fullResolutionImage();

    // Forgets the remembered file (the written-file flag goes false). The preview calls it
    // on every redraw.
    void clearCache();
    // True when the file written last is at this path, still holds what the current
    // inputs give, and has not been replaced since.
    bool isValidCacheAtPath(const QString& path) const;

    // Writes the composite to the temporary path of name (an absolute name is used as it
    // stands) in format (101 JPEG and any unknown code, 102 PNG, 103 TIFF) at quality.
    // Gives the path written, or the remembered file's path when it is still current, or
    // an empty string on failure (a failed write leaves any old file at the path whole).
    QString writeImageToFile(const QString& name, int format, int quality, bool hideExtension,
                             QString* error = nullptr);
    // writeImageToFile with the file name, format, quality and HideExtension set above.
    // Empty without a photo.
    QString writeTmpFile(QString* error = nullptr);
    // The same in the given format.
    QString writeTmpFileWithFormat(int format, QString* error = nullptr);

    // The composite encoded in memory as writeImageToFile would write it (file-size
    // search, metadata and colour profile included); empty on failure or when no JPEG
    // quality fits the limit. For callers that place the file themselves.
    QByteArray encodeImage(int format, int quality, QString* error = nullptr);

    // Removes the process's temporary folder (at quit).
    static void removeTmpFiles();

private:
    struct State;
    struct Written;
    struct Job;
    void inputChangedLocked(bool compositeChanged);
    QPointF offsetLocked() const;
    bool writtenMatchesLocked(const QString& path, int format, int quality) const;
    // Both need _renderMutex held.
    QImage renderComposite();
    Job prepareJob(int format, int quality);

    mutable QMutex _mutex; // guards every field below
    QMutex _renderMutex;   // one full-resolution render or write at a time
    std::unique_ptr<State> _state;
    QImage _fullResolutionCache;
    quint64 _compositeEpoch = 0;       // bumped by every change of the composite's inputs
    quint64 _writeEpoch = 0;           // bumped by every change and by clearCache()
    std::unique_ptr<Written> _written; // the file written last, or none
};
