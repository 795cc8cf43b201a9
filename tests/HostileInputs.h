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

#include <array>
#include <atomic>
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
    static const char* const names[] = {"truncated JPEG",
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
                                        "JPEG XL cut half way"};
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
inline const QList<Hostile> hostileDrawings{Hostile::PackedDrawing, Hostile::EntityBomb,
                                            Hostile::CarriedDrawing};

inline QString hostileDrawingName(Hostile kind)
{
    return kind == Hostile::PackedDrawing ? QStringLiteral("Frame.svgz")
                                          : QStringLiteral("Frame.svg");
}

inline const QList<Hostile> hostilePropertyLists{
    Hostile::DeepXmlPlist, Hostile::DeepBinaryPlist, Hostile::SharedArrays,
    Hostile::RandomBytes,  Hostile::ZeroBytes,       Hostile::Directory,
    Hostile::Fifo,         Hostile::SymlinkLoop,     Hostile::Unreadable};

// Noise, so that a cut anywhere loses real data.
inline QByteArray encodedPicture(const char* format, int w = 96, int h = 64)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    noisePhoto(w, h).save(&buffer, format, 90);
    return data;
}

// The lowest `bytes` bytes of value, most significant first unless littleEndian.
inline QByteArray bytesOf(quint64 value, int bytes = 4, bool littleEndian = false)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * (littleEndian ? i : bytes - 1 - i))) & 0xff));
    return out;
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

// A valid PNG header for side x side RGB pixels followed by a few bytes of image data.
inline QByteArray hugePngHeader(quint32 side = 100000)
{
    auto chunk = [](const QByteArray& typeAndBody) {
        return bytesOf(quint64(typeAndBody.size() - 4)) + typeAndBody +
               bytesOf(pngCrc(typeAndBody));
    };
    return QByteArray("\x89PNG\r\n\x1a\n", 8) +
           chunk("IHDR" + bytesOf(side) + bytesOf(side) + QByteArray("\x08\x02\0\0\0", 5)) +
           chunk(QByteArray("IDAT\x78\x9c\x63\x00\x00", 9));
}

// A binary property list of `levels` arrays, each holding the next `share` times (twice: a
// few hundred bytes that expand to 2^levels nodes), with object references two bytes wide.
inline QByteArray chainedArrays(int levels, int share)
{
    QByteArray data("bplist00"), offsets;
    for (int i = 0; i < levels; ++i) {
        offsets += bytesOf(quint64(data.size()));
        const bool last = i + 1 == levels;
        data.append(char(0xA0 | (last ? 0 : share)));
        for (int k = 0; k < share && !last; ++k)
            data += bytesOf(quint64(i + 1), 2);
    }
    const quint64 table = quint64(data.size());
    return data + offsets + QByteArray(6, '\0') + "\x04\x02" + bytesOf(quint64(levels), 8) +
           bytesOf(0, 8) + bytesOf(table, 8);
}

// A HEIF file whose box of that type has `field` overwritten after its version and flags.
inline QByteArray patchedHeif(heif_compression_format codec, const char* box,
                              const QByteArray& field)
{
    QByteArray data = heifFile(noisePhoto(96, 64), codec);
    return data.replace(data.indexOf(box) + 8, field.size(), field);
}

// A small drawing as Qt's image plugin reads it; inner goes inside.
inline QByteArray drawing(const QByteArray& inner = {})
{
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" "
           "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"96\" height=\"64\">" +
           inner + "<rect x=\"4\" y=\"4\" width=\"20\" height=\"20\" fill=\"red\"/></svg>";
}

// What a hostile kind that is a plain file holds.
inline QByteArray hostileBytes(Hostile kind)
{
    auto cut = [](const QByteArray& whole, int tenths) {
        return whole.left(whole.size() * tenths / 10);
    };
    switch (kind) {
    case Hostile::TruncatedJpeg:
    case Hostile::TruncatedPng:
    case Hostile::TruncatedTiff:
    case Hostile::TruncatedWebp: // the first four kinds, in this order
        return cut(encodedPicture(std::array{"JPEG", "PNG", "TIFF", "WEBP"}[int(kind)]), 3);
    case Hostile::TruncatedHeic:
        return cut(heifFile(noisePhoto(96, 64)), 3);
    case Hostile::JxlCutHalfway:
        return cut(jxlFile(noisePhoto(96, 64)), 5);
    case Hostile::HugeHeader:
        return hugePngHeader();
    case Hostile::HugeAvif:
        return patchedHeif(heif_compression_AV1, "ispe", bytesOf(100000) + bytesOf(100000));
    case Hostile::HeifNoPrimary:
        return patchedHeif(heif_compression_HEVC, "pitm", bytesOf(0x7777, 2));
    case Hostile::JxlOnlyBox:
        return QByteArray("\0\0\0\x0cJXL \r\n\x87\n", 12);
    case Hostile::BrokenExif: {
        // Its EXIF block says its make is two gigabytes long, far past the block's end, and
        // its EXIF directory and next directory are the first directory again.
        QByteArray tiff = QByteArray("II*\0\x08\0\0\0", 8) + bytesOf(3, 2, true);
        auto entry = [&tiff](quint16 tag, quint16 type, quint32 count, quint32 value) {
            tiff += bytesOf(tag, 2, true) + bytesOf(type, 2, true) + bytesOf(count, 4, true) +
                    bytesOf(value, 4, true);
        };
        entry(0x010f, 2, 0x7fffffff, 0xffffff00); // Make
        entry(0x0112, 3, 0xffff, 8);              // Orientation
        entry(0x8769, 4, 1, 8);                   // the EXIF directory: itself
        tiff += bytesOf(8, 4, true);              // the next directory: itself
        const QByteArray app1 = QByteArray("Exif\0\0", 6) + tiff, jpeg = encodedPicture("JPEG");
        return jpeg.left(2) + "\xff\xe1" + bytesOf(quint64(app1.size() + 2), 2) + app1 +
               jpeg.mid(2);
    }
    case Hostile::RandomBytes: {
        QByteArray data(4096, '\0');
        QRandomGenerator rng(11);
        for (char& c : data)
            c = char(rng.bounded(256));
        return data;
    }
    case Hostile::DeepXmlPlist:
        return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Deep</key>" +
               QByteArray("<array>").repeated(100000) + QByteArray("</array>").repeated(100000) +
               "</dict></plist>";
    case Hostile::DeepBinaryPlist:
        return chainedArrays(60000, 1);
    case Hostile::SharedArrays:
        return chainedArrays(40, 2);
    case Hostile::PackedDrawing: {
        // gzip around qCompress's deflate stream, which follows its length and zlib header
        // and precedes its Adler-32.
        const QByteArray zlib = qCompress(drawing(), 9);
        return QByteArray("\x1f\x8b\x08\0\0\0\0\0\x02\x03", 10) + zlib.mid(6, zlib.size() - 10) +
               bytesOf(pngCrc(drawing()), 4, true) + bytesOf(quint64(drawing().size()), 4, true);
    }
    case Hostile::EntityBomb:
        return "<?xml version=\"1.0\"?><!DOCTYPE svg [<!ENTITY e \"" + QByteArray(4000, 'x') +
               "\">]>" + drawing("<desc>" + QByteArray("&e;").repeated(2000) + "</desc>");
    case Hostile::CarriedDrawing:
        return drawing(
            "<image width=\"96\" height=\"64\" xlink:href=\"data:image/svg+xml;base64," +
            drawing("<image width=\"96\" height=\"64\" xlink:href=\"secret.png\"/>").toBase64() +
            "\"/>");
    default: // not a plain file
        return {};
    }
}

// Puts the hostile thing at `path`. False with *skip set when this process cannot make it
// hostile (root reads any file whatever its permissions).
inline bool makeHostile(Hostile kind, const QString& path, QString* skip = nullptr)
{
    const QByteArray native = QFile::encodeName(path);
    switch (kind) {
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
    default:
        return writeBytes(path, hostileBytes(kind));
    }
}

// Opening a FIFO for reading blocks until someone writes: a program that does so hangs for
// good. While this lives it opens the FIFO's far end whenever a reader waits there, so the
// reader goes on (reading nothing) and the test can say what went wrong instead of hanging.
class FifoWatch {
public:
    explicit FifoWatch(const QString& path)
        : _thread([this, native = QFile::encodeName(path)] {
              while (!_stop) {
                  const int fd = ::open(native.constData(), O_WRONLY | O_NONBLOCK);
                  if (fd >= 0) {
                      _opened = true;
                      ::close(fd);
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
              }
          })
    {
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
    std::atomic<bool> _stop{false};
    std::atomic<bool> _opened{false};
    std::thread _thread; // last: it uses the others
};

// A watch on path when the input there is a FIFO, else none.
inline std::unique_ptr<FifoWatch> watchIfFifo(Hostile kind, const QString& path)
{
    return kind == Hostile::Fifo ? std::make_unique<FifoWatch>(path) : nullptr;
}
