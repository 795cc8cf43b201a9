#pragma once

// Files and pictures shared by the export and batch framer tests.

#include <QColor>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>

#include <exiv2/exiv2.hpp>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/mount.h>
#include <unistd.h>
#include <utility>
#include <vector>

inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// Smooth in both directions, so that JPEG keeps it close.
inline QImage gradientPhoto(int w, int h, int blue = 90)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(40 + (x * 150) / w, 40 + (y * 150) / h, blue));
    return image;
}

// No JPEG quality makes random pixels small.
inline QImage noisePhoto(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    QRandomGenerator rng(42);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, rng.generate() | 0xff000000u);
    return image;
}

// Each channel within the tolerance, the alpha the same.
inline bool nearColour(QColor got, QColor want, int tolerance)
{
    return qAbs(got.red() - want.red()) <= tolerance &&
           qAbs(got.green() - want.green()) <= tolerance &&
           qAbs(got.blue() - want.blue()) <= tolerance && got.alpha() == want.alpha();
}

// Sets EXIF, IPTC and XMP tags of a picture file, each value given as text.
inline void setTags(const QString& path,
                    const std::vector<std::pair<std::string, std::string>>& tags)
{
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    for (const auto& [key, value] : tags) {
        if (key.rfind("Exif.", 0) == 0)
            image->exifData()[key] = value;
        else if (key.rfind("Iptc.", 0) == 0)
            image->iptcData()[key] = value;
        else
            image->xmpData()[key] = value;
    }
    image->writeMetadata();
}

// Mounts a file system of 64 KB on the folder, so that writing more fails as on a full
// disk. Empty when mounted, else why not, for the test to skip with. Undo with
// unmountFolder before the folder goes.
inline QString mountFullDisk(const QString& folder)
{
    if (::geteuid() != 0)
        return QStringLiteral("mounting a small file system needs root");
    if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=64k") != 0)
        return QStringLiteral("tmpfs could not be mounted: ") +
               QString::fromLocal8Bit(std::strerror(errno));
    return QString();
}

inline void unmountFolder(const QString& folder)
{
    ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
}
