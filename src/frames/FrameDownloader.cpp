#include "FrameDownloader.h"

#include "foundation/BoundedGet.h"
#include "frames/FrameLibrary.h"
#include "frames/ThumbnailCache.h"
#include "output/ImageReader.h"

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

} // namespace

bool FrameDownloader::download(const QUrl& url, const QString& folder)
{
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return false;
    if (!QFileInfo(folder).isDir())
        return false;

    auto transfer = std::make_shared<Transfer>();
    // Hidden, so a collection read while the download runs never lists the part file.
    transfer->file = std::make_unique<QTemporaryFile>(
        QDir(folder).filePath(QStringLiteral(".velluma-download-XXXXXX")));
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
            const QString partPath = transfer->file->fileName();
            const QByteArray format = QImageReader(partPath).format();
            // A body cut short can still carry a valid header, and a JPEG cut short still
            // decodes; only a full decode that reached the end tells.
            transfer->file->close();
            QString damage;
            const bool whole = ThumbnailCache::isImageFile(partPath) &&
                               !ImageReader::readImage(partPath, nullptr, &damage).isNull() &&
                               damage.isEmpty();
            if (!format.isEmpty() && whole) {
                const QString name =
                    nameWithImageExtension(FrameLibrary::safeFileNameForUrl(url), format);
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
