#include "FrameDownloader.h"

#include "compositing/VectorImage.h"
#include "foundation/InputGuard.h"
#include "frames/FrameLibrary.h"
#include "frames/ThumbnailCache.h"
#include "output/ImageReader.h"
#include "ui/BoundedGet.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>

#include <memory>

FrameDownloader::FrameDownloader(QObject* parent)
    : QObject(parent), _manager(new QNetworkAccessManager(this))
{
}

FrameDownloader::~FrameDownloader() = default;

void FrameDownloader::setLimits(qint64 maxBytes, int timeoutMs)
{
    _maxBytes = maxBytes;
    _timeoutMs = timeoutMs;
}

namespace {

struct Transfer {
    std::unique_ptr<QTemporaryFile> file;
    qint64 received = 0;
    bool failed = false;
};

// The downloaded name gets the format's extension when it has none a reader knows, so
// that "frame" served as PNG becomes "frame.png".
QString nameWithImageExtension(const QString& name, const QByteArray& format)
{
    const QString suffix = QFileInfo(name).suffix().toLower();
    if (!suffix.isEmpty() && QImageReader::supportedImageFormats().contains(suffix.toLatin1()))
        return name;
    return name + QLatin1Char('.') + QString::fromLatin1(format);
}

const QLatin1String PartPrefix(".velluma-download-");

// Part files that a download ended without removing (the program was killed): none of them
// is in use once it is older than the longest a download may take.
void removeStaleParts(const QString& folder, int timeoutMs)
{
    const QDateTime before = QDateTime::currentDateTime().addMSecs(-qint64(timeoutMs) - 60'000);
    const QFileInfoList parts = QDir(folder).entryInfoList(
        {PartPrefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& part : parts) {
        if (part.lastModified() < before)
            QFile::remove(part.filePath());
    }
}

// The name a finished download is kept under, or nothing when it is no frame. A drawing
// is checked as a drawing frame and named as one; a packed drawing is no frame at all, and
// no picture reader sees one. A body cut short can still carry a valid header, and a JPEG
// cut short still decodes; only a full decode that reached the end tells.
QString keptName(const QString& partPath, const QUrl& url)
{
    QFile part(partPath);
    if (!part.open(QIODevice::ReadOnly))
        return {};
    const InputGuard::Kind kind = InputGuard::sniff(part.read(InputGuard::SniffBytes));
    part.close();
    const QString name = FrameLibrary::safeFileNameForUrl(url);
    if (kind == InputGuard::Kind::Markup) {
        if (!VectorImage::fromFile(partPath))
            return {};
        return VectorImage::isVectorPath(name) ? name : name + QStringLiteral(".svg");
    }
    if (kind == InputGuard::Kind::Packed)
        return {};
    const QByteArray format = QImageReader(partPath).format();
    QString damage;
    const bool whole = ThumbnailCache::isImageFile(partPath) &&
                       !ImageReader::readImage(partPath, nullptr, &damage).isNull() &&
                       damage.isEmpty();
    return !format.isEmpty() && whole ? nameWithImageExtension(name, format) : QString();
}

} // namespace

bool FrameDownloader::download(const QUrl& url, const QString& folder)
{
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return false;
    if (!QFileInfo(folder).isDir())
        return false;

    removeStaleParts(folder, _timeoutMs);
    auto transfer = std::make_shared<Transfer>();
    // Hidden, so a collection read while the download runs never lists the part file.
    transfer->file = std::make_unique<QTemporaryFile>(
        QDir(folder).filePath(PartPrefix + QStringLiteral("XXXXXX")));
    transfer->file->setAutoRemove(true);
    if (!transfer->file->open())
        return false;

    const qint64 maxBytes = _maxBytes;
    QNetworkReply* reply =
        BoundedGet::start(*_manager, url, _timeoutMs, maxBytes,
                          [transfer](BoundedGet::Refusal) { transfer->failed = true; });
    ++_active;

    connect(reply, &QNetworkReply::readyRead, reply, [reply, transfer, maxBytes] {
        if (transfer->failed)
            return;
        const QByteArray chunk = reply->readAll();
        transfer->received += chunk.size();
        if (transfer->received > maxBytes || transfer->file->write(chunk) != chunk.size()) {
            transfer->failed = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, transfer, url, folder] {
        --_active;
        reply->deleteLater();
        QString saved;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        bool ok = !transfer->failed && reply->error() == QNetworkReply::NoError &&
                  (status == 0 || (status >= 200 && status < 300));
        if (ok) {
            const QByteArray rest = reply->readAll();
            transfer->received += rest.size();
            ok = transfer->received <= _maxBytes && transfer->file->write(rest) == rest.size() &&
                 transfer->file->flush();
        }
        if (ok && transfer->received > 0) {
            transfer->file->close();
            const QString name = keptName(transfer->file->fileName(), url);
            if (!name.isEmpty()) {
                const QString destination = FrameLibrary::uniqueDestinationPath(folder, name);
                // QFile::rename refuses an existing destination, so nothing is overwritten.
                if (!destination.isEmpty() && transfer->file->rename(destination)) {
                    transfer->file->setAutoRemove(false);
                    QFile::setPermissions(destination,
                                          QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ReadGroup | QFileDevice::ReadOther);
                    // A frame deleted earlier under this name may have left its thumbnail.
                    QFile::remove(ThumbnailCache::cachePathForPath(destination));
                    saved = destination;
                }
            }
        }
        // Whatever was not renamed into place goes with the temporary file.
        transfer->file.reset();
        emit downloadFinished(folder, saved);
    });
    return true;
}
