#pragma once

#include "foundation/Appcast.h"

#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class SheetHost;
class UserDefaults;

// Looks for a newer release in the update feed named by "SUFeedURL" and tells the user of
// one. The check runs in the background of the event loop, limited in size and time; the
// answer comes as a sheet once no other sheet is up. The check at launch says nothing
// unless there is a newer release; the one the user asks for also says that the program is
// up to date or that the feed could not be read.
class SUUpdater : public QObject {
    Q_OBJECT
public:
    enum class Result { UpdateAvailable, UpToDate, FeedUnreadable };
    Q_ENUM(Result)

    SUUpdater(UserDefaults& defaults, SheetHost* host, QObject* parent = nullptr);
    ~SUUpdater() override;

    void setLimits(qint64 maxBytes, int timeoutMs);
    qint64 maxBytes() const { return _maxBytes; }
    int timeoutMs() const { return _timeoutMs; }
    // The running program's version unless a test sets another.
    void setCurrentVersion(const QString& version) { _currentVersion = version; }
    QString currentVersion() const { return _currentVersion; }
    bool isChecking() const { return _reply || _telling; }

public slots:
    void checkForUpdatesInBackground();
    // A check already running is not started again, but now tells its answer either way.
    void checkForUpdates();

signals:
    void checkStarted(bool userAsked);
    // After the user was told (or, in the background, nothing needed telling). detail is
    // the new version or why the feed could not be read.
    void checkFinished(SUUpdater::Result result, const QString& detail);

private:
    void _start();
    void _finished(const QByteArray& body, const QString& error);
    void _tell(Result result, const Appcast::Item& item, const QString& error);

    UserDefaults& _defaults;
    SheetHost* _host;
    QNetworkAccessManager* _manager = nullptr;
    QNetworkReply* _reply = nullptr; // the check under way
    QString _currentVersion;
    qint64 _maxBytes = 1024 * 1024;
    int _timeoutMs = 15'000;
    bool _userAsked = false;
    bool _telling = false;
};
