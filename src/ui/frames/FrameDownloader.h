#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Downloads dropped URLs into a collection folder. The body goes to a hidden temporary
// file in that folder and is renamed to a free name only when it arrived whole, within the
// size and time limits, and is an image; every failure removes the temporary file.
class FrameDownloader : public QObject {
    Q_OBJECT
public:
    explicit FrameDownloader(QObject* parent = nullptr);
    ~FrameDownloader() override;

    void setLimits(qint64 maxBytes, int timeoutMs);
    qint64 maxBytes() const { return _maxBytes; }
    int timeoutMs() const { return _timeoutMs; }

    // Starts the download; false when the URL is not http(s) or the folder is missing.
    bool download(const QUrl& url, const QString& folder);
    int activeDownloads() const { return _active; }

signals:
    // savedPath is empty when the download failed; folder is the one given to download().
    void downloadFinished(const QString& folder, const QString& savedPath);

private:
    QNetworkAccessManager* _manager = nullptr;
    qint64 _maxBytes = 64 * 1024 * 1024;
    int _timeoutMs = 120'000;
    int _active = 0;
};
