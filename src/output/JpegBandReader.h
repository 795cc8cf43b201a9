#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

// Reads a colour JPEG from the top down a few rows at a time (libjpeg-turbo's scanline
// reading), so that a photo can be framed and written without ever being whole in memory.
// The pixels are those Qt's JPEG reader gives for the same file.
//
// Only what can be read that way without surprises opens: a baseline or progressive JPEG
// of three colour components. Anything libjpeg warns about (damaged or cut-off data) is a
// failure here, so that the caller can read such a file whole the ordinary way instead.
class JpegBandReader {
public:
    explicit JpegBandReader(const QString& path);
    ~JpegBandReader();
    JpegBandReader(const JpegBandReader&) = delete;
    JpegBandReader& operator=(const JpegBandReader&) = delete;

    struct State; // libjpeg's side

    bool isOpen() const { return _state != nullptr; }
    QSize size() const { return _size; }
    int nextRow() const { return _nextRow; }

    // The next `count` rows into rows 0 to count - 1 of *rows (RGB32 at the photo's width,
    // made when too small). False on a decoding failure or warning; the reader is then
    // spent.
    bool readRows(QImage* rows, int count);
    // Reads and drops the next `count` rows.
    bool skipRows(int count);

private:
    bool read(unsigned char* const* rows, int count);
    void close();

    std::unique_ptr<State> _state;
    QSize _size;
    int _nextRow = 0;
};
