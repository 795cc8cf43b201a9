#pragma once

#include "compositing/FramedPhoto.h"
#include "output/FileFormat.h"
#include "output/ImageWriter.h"

#include <QImage>
#include <QMutex>
#include <QString>

#include <functional>
#include <memory>

// The full-resolution side of the document: writes a snapshot of the framed photo at full
// size in the chosen format and remembers the file it wrote last, so that repeated requests
// (hovering over the proxy icon, copy after drag-out) get that file back without rendering
// or encoding again. Every format is composited band by band on its way into the encoder
// (PNG and TIFF through libpng and libtiff, as Qt's writers need the whole picture), so
// that no second full-size picture is made beside the photo; a caller that needs the whole
// composite gets it rendered once and kept.
//
// The remembered file is tied to its path and to everything that went into it: a request
// for another path, format or document writes again. A file we did not write (an old file
// at a path the user chose) is never taken for the result.
//
// No GUI objects: every member may be called from any thread, so the window can run the
// long full-resolution work on a worker thread while the user goes on editing; each call
// works on the snapshot it was handed.
class ExportRenderer {
public:
    // How the file is written.
    struct Options {
        FileFormat format = FileFormat::Jpeg;
        int quality = 90;              // JPEG only
        int limitKB = 0;               // JPEG only; 0: no limit
        bool preserveMetadata = false; // EXIF/IPTC/XMP into JPEG and TIFF; the colour
                                       // profile is kept in every format
    };

    ExportRenderer();
    ~ExportRenderer();
    ExportRenderer(const ExportRenderer&) = delete;
    ExportRenderer& operator=(const ExportRenderer&) = delete;

    // Told each JPEG attempt of the file-size search (quality, bytes).
    void setAttemptLog(std::function<void(int quality, qint64 bytes)> log);
    // Threads the full-resolution render may use; 0 (the default) = one per core.
    void setRenderThreads(int threads);
    // Bytes of prepared planes the JPEG file-size search may keep (see
    // ImageWriter::Options::planeBudget); above, each attempt composites the photo again.
    void setPlaneBudget(qint64 bytes);

    // The document's composite at full size, rendered on first demand and kept for as long
    // as the same document is asked for. Null without a photo.
    QImage fullResolutionImage(const FramedPhoto& framed);
    // Lets go of the kept render (the document's photo was replaced or closed).
    void discardRender();

    // Forgets the remembered file (the written-file flag goes false). Called on every redraw
    // of the preview and every change of the output settings.
    void clearCache();
    // True when the file written last is at this path, holds this document written with
    // these options, and has not been replaced since.
    bool isValidCacheAtPath(const QString& path, const FramedPhoto& framed,
                            const Options& options) const;

    // Writes the composite to the temporary path of name (an absolute name is used as it
    // stands). Gives the path written, or the remembered file's path when it is still
    // current, or an empty string on failure (a failed write leaves any old file at the
    // path whole).
    // *qualityUsed receives the JPEG quality the file was written at: below the asked one
    // when the size limit made the search go lower.
    QString writeImageToFile(const FramedPhoto& framed, const QString& name, const Options& options,
                             QString* error = nullptr, int* qualityUsed = nullptr);

    // The composite encoded in memory as writeImageToFile would write it (file-size search,
    // metadata and colour profile included); empty on failure or when no JPEG quality fits
    // the limit. For callers that place the file themselves.
    QByteArray encodeImage(const FramedPhoto& framed, const Options& options,
                           QString* error = nullptr, int* qualityUsed = nullptr);

    // The JPEG encodeImage makes of the document whose photo is still in the JPEG file
    // photoPath (framed.photo is not read), made band by band from the file's rows as they
    // are decoded, so that neither the photo nor its composite is ever whole in memory.
    // *streamable turns false, with nothing in *error, when the photo cannot go this way
    // (not a plain colour JPEG, turned by its orientation, too large, damaged, or another
    // format asked for): then read it whole and call encodeImage.
    QByteArray encodeJpegFromFile(const FramedPhoto& framed, const QString& photoPath,
                                  const Options& options, QString* error, bool* streamable,
                                  int* qualityUsed = nullptr);
    // Rows composited and encoded at a time by encodeJpegFromFile.
    static constexpr int BandRows = 64;

    // Removes the process's temporary folder (at quit).
    static void removeTmpFiles();

private:
    struct Written;
    static void explainEmptyResult(const Options& options, QString* error);
    bool writtenMatchesLocked(const QString& path, const FramedPhoto& framed,
                              const Options& options) const;
    // Need _renderMutex held.
    QImage renderComposite(const FramedPhoto& framed);
    QByteArray encodeLocked(const FramedPhoto& framed, const Options& options, QString* error,
                            int* qualityUsed);
    // The document's composite band by band from the top, from the photo it holds (or
    // the kept render), anew for each source made: no full-size picture is made beside
    // the photo. framed must outlive the sources.
    ImageWriter::BandSourceMaker compositeBands(const FramedPhoto& framed);
    // Records the quality of each attempt in *lastQuality (the last one is the one kept).
    ImageWriter::Options writerOptions(const FramedPhoto& framed, const Options& options,
                                       int* lastQuality) const;

    mutable QMutex _mutex; // guards every field below
    QMutex _renderMutex;   // one full-resolution render or write at a time
    std::function<void(int, qint64)> _attemptLog;
    int _renderThreads = 0;
    qint64 _planeBudget = ImageWriter::Options().planeBudget;
    QImage _fullResolutionCache;
    FramedPhoto::CompositeKey _renderedKey;
    quint64 _writeEpoch = 0;           // bumped by clearCache()
    std::unique_ptr<Written> _written; // the file written last, or none
};
