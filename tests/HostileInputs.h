#pragma once

// Files an unlucky user or an attacker hands to Velluma, made small in the test: damaged
// pictures, pictures that claim to be enormous, things that are not files, and property
// lists built to crash or exhaust a parser. Shared by the tables of every entry point.

#include "CodecFiles.h"
#include "TestSupport.h"
#include "output/TestFiles.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QList>
#include <QRandomGenerator>
#include <QString>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

enum class Hostile {
    TruncatedJpeg,
    TruncatedPng,
    TruncatedTiff,
    TruncatedWebp,
    HugeHeader, // a PNG that claims 100000 x 100000 pixels
    ZeroBytes,
    Directory,
    Fifo,
    SymlinkLoop,
    Unreadable,
    BrokenExif, // a good JPEG whose EXIF block points outside itself and into itself
    RandomBytes,
    DeepXmlPlist,    // arrays nested 100000 deep
    DeepBinaryPlist, // a binary list of arrays each holding the next, 60000 deep
    SharedArrays,    // a binary list of 40 arrays each holding the next twice
    PackedDrawing,   // a drawing in gzip, which Qt's drawing plugin unpacks whole
    EntityBomb,      // a drawing whose one 4000-character entity is used 2000 times
    CarriedDrawing,  // a drawing carrying, as a data: picture, a drawing that shows a file
    TruncatedHeic,
    HugeAvif,      // an AVIF whose picture claims 100000 x 100000 pixels
    HeifNoPrimary, // a HEIC whose primary item is not in it
    JxlOnlyBox,    // the JPEG XL container's signature box and nothing else
    JxlCutHalfway, // a JPEG XL whose header decodes, cut off in its pixels
};

inline const char* hostileName(Hostile kind)
{
    static const char* const names[] = {
        "truncated JPEG",
        "truncated PNG",
        "truncated TIFF",
        "truncated WebP",
        "100000 x 100000 header",
        "zero bytes",
        "directory",
        "FIFO",
        "symlink loop",
        "no read permission",
        "broken EXIF",
        "random bytes",
        "XML plist 100000 deep",
        "binary plist 60000 deep",
        "binary plist of shared arrays",
        "packed drawing",
        "entity bomb",
        "drawing inside a drawing",
        "truncated HEIC",
        "100000 x 100000 AVIF",
        "HEIC without its primary image",
        "JPEG XL of only a box",
        "JPEG XL cut half way",
    };
    return names[int(kind)];
}

inline QList<Hostile> hostilePictures()
{
    return {Hostile::TruncatedJpeg, Hostile::TruncatedPng,  Hostile::TruncatedTiff,
            Hostile::TruncatedWebp, Hostile::HugeHeader,    Hostile::ZeroBytes,
            Hostile::Directory,     Hostile::Fifo,          Hostile::SymlinkLoop,
            Hostile::Unreadable,    Hostile::BrokenExif,    Hostile::RandomBytes,
            Hostile::PackedDrawing, Hostile::EntityBomb,    Hostile::TruncatedHeic,
            Hostile::HugeAvif,      Hostile::HeifNoPrimary, Hostile::JxlOnlyBox,
            Hostile::JxlCutHalfway};
}

// Frames that are drawings, each under a name that makes it one (hostileDrawingName).
inline QList<Hostile> hostileDrawings()
{
    return {Hostile::PackedDrawing, Hostile::EntityBomb, Hostile::CarriedDrawing};
}

inline QString hostileDrawingName(Hostile kind)
{
    return kind == Hostile::PackedDrawing ? QStringLiteral("Frame.svgz")
                                          : QStringLiteral("Frame.svg");
}

inline QList<Hostile> hostilePropertyLists()
{
    return {Hostile::DeepXmlPlist, Hostile::DeepBinaryPlist, Hostile::SharedArrays,
            Hostile::RandomBytes,  Hostile::ZeroBytes,       Hostile::Directory,
            Hostile::Fifo,         Hostile::SymlinkLoop,     Hostile::Unreadable};
}

// Noise, so that a cut anywhere loses real data.
inline QByteArray encodedPicture(const char* format, int w = 96, int h = 64)
{
    const QImage image = noisePhoto(w, h);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 90);
    return data;
}

inline quint32 pngCrc(const QByteArray& bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline void appendBigEndian32(QByteArray& data, quint32 value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        data.append(char((value >> shift) & 0xff));
}

// A valid PNG header for side x side RGB pixels followed by a few bytes of image data.
inline QByteArray hugePngHeader(quint32 side = 100000)
{
    QByteArray data("\x89PNG\r\n\x1a\n", 8);
    QByteArray ihdr("IHDR");
    appendBigEndian32(ihdr, side);
    appendBigEndian32(ihdr, side);
    ihdr.append(char(8)).append(char(2)).append(char(0)).append(char(0)).append(char(0));
    appendBigEndian32(data, 13);
    data.append(ihdr);
    appendBigEndian32(data, pngCrc(ihdr));
    const QByteArray idat = QByteArray("IDAT") + QByteArray("\x78\x9c\x63\x00\x00", 5);
    appendBigEndian32(data, quint32(idat.size() - 4));
    data.append(idat);
    appendBigEndian32(data, pngCrc(idat));
    return data;
}

// A JPEG whose EXIF block says its make is two gigabytes long, far past the block's end,
// and whose EXIF directory and next directory are the first directory again.
inline QByteArray brokenExifJpeg()
{
    const QByteArray jpeg = encodedPicture("JPEG");
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    auto le16 = [&tiff](quint16 v) { tiff.append(char(v & 0xff)).append(char(v >> 8)); };
    auto le32 = [&tiff](quint32 v) {
        for (int shift = 0; shift < 32; shift += 8)
            tiff.append(char((v >> shift) & 0xff));
    };
    le16(3);
    le16(0x010f), le16(2), le32(0x7fffffff), le32(0xffffff00); // Make
    le16(0x0112), le16(3), le32(0xffff), le32(8);              // Orientation
    le16(0x8769), le16(4), le32(1), le32(8);                   // the EXIF directory: itself
    le32(8);                                                   // the next directory: itself
    const QByteArray app1 = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xff\xe1", 2);
    segment.append(char((app1.size() + 2) >> 8)).append(char((app1.size() + 2) & 0xff));
    return jpeg.left(2) + segment + app1 + jpeg.mid(2);
}

inline QByteArray deepXmlPlist(int depth = 100000)
{
    return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Deep</key>" +
           QByteArray("<array>").repeated(depth) + QByteArray("</array>").repeated(depth) +
           "</dict></plist>";
}

// A binary property list of `levels` one-byte-referenced arrays, each holding the next
// `share` times (twice: a few hundred bytes that expand to 2^levels nodes), with object
// references two bytes wide.
inline QByteArray chainedArrays(int levels, int share)
{
    QByteArray data("bplist00");
    QList<quint64> offsets;
    for (int i = 0; i < levels; ++i) {
        offsets << quint64(data.size());
        if (i + 1 < levels) {
            data.append(char(0xA0 | share));
            for (int k = 0; k < share; ++k)
                data.append(char((i + 1) >> 8)).append(char((i + 1) & 0xff));
        } else {
            data.append(char(0xA0));
        }
    }
    const quint64 table = quint64(data.size());
    for (quint64 offset : offsets)
        appendBigEndian32(data, quint32(offset));
    auto bigEndian64 = [&data](quint64 value) {
        for (int shift = 56; shift >= 0; shift -= 8)
            data.append(char((value >> shift) & 0xff));
    };
    data.append(QByteArray(6, '\0')).append(char(4)).append(char(2));
    bigEndian64(quint64(levels));
    bigEndian64(0);
    bigEndian64(table);
    return data;
}

inline QByteArray sharedArrays(int levels = 40)
{
    return chainedArrays(levels, 2);
}

// A HEIF file with a field of one of its boxes (the 4-character type, then after version
// and flags at `offset`) overwritten by big-endian `values`.
inline QByteArray patchedHeif(heif_compression_format codec, const char* box, int offset,
                              const QList<quint32>& values, int bytes = 4)
{
    QByteArray data = heifFile(noisePhoto(96, 64), codec);
    qsizetype at = data.indexOf(box) + 8 + offset;
    for (quint32 value : values)
        for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
            data[at++] = char((value >> shift) & 0xff);
    return data;
}

// A small drawing as Qt's image plugin reads it; inner goes inside.
inline QByteArray drawing(const QByteArray& inner = {})
{
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" "
           "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"96\" height=\"64\">" +
           inner + "<rect x=\"4\" y=\"4\" width=\"20\" height=\"20\" fill=\"red\"/></svg>";
}

inline QByteArray gzipped(const QByteArray& data)
{
    // qCompress: the length, a zlib header, the deflate stream, its Adler-32.
    const QByteArray zlib = qCompress(data, 9);
    QByteArray out("\x1f\x8b\x08\0\0\0\0\0\x02\x03", 10);
    out += zlib.mid(6, zlib.size() - 10);
    for (const quint32 value : {pngCrc(data), quint32(data.size())})
        for (int shift = 0; shift < 32; shift += 8)
            out.append(char((value >> shift) & 0xff));
    return out;
}

inline QByteArray entityBomb(int uses = 2000)
{
    return "<?xml version=\"1.0\"?><!DOCTYPE svg [<!ENTITY e \"" + QByteArray(4000, 'x') + "\">]>" +
           drawing("<desc>" + QByteArray("&e;").repeated(uses) + "</desc>");
}

inline QByteArray carriedDrawing()
{
    const QByteArray inner =
        drawing("<image width=\"96\" height=\"64\" xlink:href=\"secret.png\"/>");
    return drawing("<image width=\"96\" height=\"64\" xlink:href=\"data:image/svg+xml;base64," +
                   inner.toBase64() + "\"/>");
}

// Puts the hostile thing at `path`. False with *skip set when this process cannot make it
// hostile (root reads any file whatever its permissions).
inline bool makeHostile(Hostile kind, const QString& path, QString* skip = nullptr)
{
    const QByteArray native = QFile::encodeName(path);
    auto cut = [&path](const char* format) {
        const QByteArray whole = encodedPicture(format);
        return writeBytes(path, whole.left(whole.size() * 3 / 10));
    };
    switch (kind) {
    case Hostile::TruncatedJpeg:
        return cut("JPEG");
    case Hostile::TruncatedPng:
        return cut("PNG");
    case Hostile::TruncatedTiff:
        return cut("TIFF");
    case Hostile::TruncatedWebp:
        return cut("WEBP");
    case Hostile::HugeHeader:
        return writeBytes(path, hugePngHeader());
    case Hostile::TruncatedHeic: {
        const QByteArray whole = heifFile(noisePhoto(96, 64));
        return writeBytes(path, whole.left(whole.size() * 3 / 10));
    }
    case Hostile::HugeAvif:
        return writeBytes(path, patchedHeif(heif_compression_AV1, "ispe", 0, {100000, 100000}));
    case Hostile::HeifNoPrimary:
        return writeBytes(path, patchedHeif(heif_compression_HEVC, "pitm", 0, {0x7777}, 2));
    case Hostile::JxlOnlyBox:
        return writeBytes(path, QByteArray("\0\0\0\x0cJXL \r\n\x87\n", 12));
    case Hostile::JxlCutHalfway: {
        const QByteArray whole = jxlFile(noisePhoto(96, 64));
        return writeBytes(path, whole.left(whole.size() / 2));
    }
    case Hostile::ZeroBytes:
        return writeBytes(path, QByteArray());
    case Hostile::Directory:
        return QDir().mkpath(path);
    case Hostile::Fifo:
        return ::mkfifo(native.constData(), 0644) == 0;
    case Hostile::SymlinkLoop: {
        const QByteArray other = native + ".loop";
        return ::symlink(other.constData(), native.constData()) == 0 &&
               ::symlink(native.constData(), other.constData()) == 0;
    }
    case Hostile::Unreadable:
        if (::geteuid() == 0) {
            if (skip)
                *skip = QStringLiteral("running as root, which reads any file anyway");
            return false;
        }
        return writeBytes(path, encodedPicture("PNG")) && ::chmod(native.constData(), 0) == 0;
    case Hostile::BrokenExif:
        return writeBytes(path, brokenExifJpeg());
    case Hostile::RandomBytes: {
        QByteArray data(4096, '\0');
        QRandomGenerator rng(11);
        for (char& c : data)
            c = char(rng.bounded(256));
        return writeBytes(path, data);
    }
    case Hostile::DeepXmlPlist:
        return writeBytes(path, deepXmlPlist());
    case Hostile::DeepBinaryPlist:
        return writeBytes(path, chainedArrays(60000, 1));
    case Hostile::SharedArrays:
        return writeBytes(path, sharedArrays());
    case Hostile::PackedDrawing:
        return writeBytes(path, gzipped(drawing()));
    case Hostile::EntityBomb:
        return writeBytes(path, entityBomb());
    case Hostile::CarriedDrawing:
        return writeBytes(path, carriedDrawing());
    }
    return false;
}

// Opening a FIFO for reading blocks until someone writes: a program that does so hangs for
// good. While this lives it opens the FIFO's far end whenever a reader waits there, so the
// reader goes on (reading nothing) and the test can say what went wrong instead of hanging.
class FifoWatch {
public:
    explicit FifoWatch(const QString& path) : _path(QFile::encodeName(path))
    {
        _thread = std::thread([this] {
            while (!_stop) {
                const int fd = ::open(_path.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    _opened = true;
                    ::close(fd);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
    }
    ~FifoWatch()
    {
        _stop = true;
        _thread.join();
    }
    FifoWatch(const FifoWatch&) = delete;
    FifoWatch& operator=(const FifoWatch&) = delete;
    // Someone opened the FIFO to read it.
    bool wasOpened() const { return _opened; }

private:
    QByteArray _path;
    std::atomic<bool> _stop{false};
    std::atomic<bool> _opened{false};
    std::thread _thread;
};

// A watch on path when the input there is a FIFO, else none.
inline std::unique_ptr<FifoWatch> watchIfFifo(Hostile kind, const QString& path)
{
    return kind == Hostile::Fifo ? std::make_unique<FifoWatch>(path) : nullptr;
}
