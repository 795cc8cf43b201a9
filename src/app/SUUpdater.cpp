#include "SUUpdater.h"

#include "app/WebLinks.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "foundation/VellumaVersion.h"
#include "ui/BoundedGet.h"
#include "ui/SheetHost.h"

#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>

namespace {

// How often an answer waits for another sheet to go away.
constexpr int kRetellDelayMs = 1000;

struct Transfer {
    QByteArray body;
    QString failure;
};

} // namespace

SUUpdater::SUUpdater(UserDefaults& defaults, SheetHost* host, QObject* parent)
    : QObject(parent), _defaults(defaults), _host(host), _manager(new QNetworkAccessManager(this)),
      _currentVersion(QStringLiteral(VELLUMA_VERSION))
{
}

SUUpdater::~SUUpdater()
{
    // Ended without an answer: nobody is told anything while the program goes.
    if (_reply) {
        disconnect(_reply, nullptr, this, nullptr);
        _reply->abort();
    }
}

void SUUpdater::setLimits(qint64 maxBytes, int timeoutMs)
{
    _maxBytes = maxBytes;
    _timeoutMs = timeoutMs;
}

void SUUpdater::checkForUpdatesInBackground()
{
    if (isChecking())
        return;
    _userAsked = false;
    _start();
}

void SUUpdater::checkForUpdates()
{
    if (_telling)
        return;
    _userAsked = true;
    if (!_reply)
        _start();
}

void SUUpdater::_start()
{
    emit checkStarted(_userAsked);
    const QUrl url(_defaults.stringForKey(DefSUFeedURL).trimmed());
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        _finished(QByteArray(), tr("No update feed is set up."));
        return;
    }

    auto transfer = std::make_shared<Transfer>();
    const qint64 maxBytes = _maxBytes;
    const QString tooLargeMessage =
        tr("The update information is larger than %1 KB.").arg(_maxBytes / 1024);
    QNetworkReply* reply = BoundedGet::start(
        *_manager, url, _timeoutMs, maxBytes, [transfer, tooLargeMessage](BoundedGet::Refusal why) {
            transfer->failure = why == BoundedGet::Refusal::TooSlow
                                    ? tr("The update server did not answer in time.")
                                    : tooLargeMessage;
        });
    _reply = reply;
    auto tooLarge = [reply, transfer, tooLargeMessage] {
        transfer->failure = tooLargeMessage;
        reply->abort();
    };
    connect(reply, &QNetworkReply::readyRead, reply, [reply, transfer, maxBytes, tooLarge] {
        if (!transfer->failure.isEmpty())
            return;
        transfer->body += reply->read(maxBytes + 1 - transfer->body.size());
        if (transfer->body.size() > maxBytes)
            tooLarge();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, transfer] {
        reply->deleteLater();
        _reply = nullptr;
        if (transfer->failure.isEmpty() && reply->error() != QNetworkReply::NoError)
            transfer->failure = reply->errorString();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (transfer->failure.isEmpty() && status != 0 && (status < 200 || status >= 300))
            transfer->failure = tr("The update server answered %1.").arg(status);
        if (transfer->failure.isEmpty()) {
            transfer->body += reply->read(_maxBytes + 1 - transfer->body.size());
            if (transfer->body.size() > _maxBytes)
                transfer->failure =
                    tr("The update information is larger than %1 KB.").arg(_maxBytes / 1024);
        }
        _finished(transfer->failure.isEmpty() ? transfer->body : QByteArray(), transfer->failure);
    });
}

void SUUpdater::_finished(const QByteArray& body, const QString& error)
{
    QString why = error;
    QList<Appcast::Item> items;
    if (why.isEmpty())
        Appcast::parse(body, &items, &why);
    if (!why.isEmpty()) {
        _tell(Result::FeedUnreadable, Appcast::Item(), why);
        return;
    }
    if (const std::optional<Appcast::Item> newer = Appcast::newerItem(items, _currentVersion))
        _tell(Result::UpdateAvailable, *newer, QString());
    else
        _tell(Result::UpToDate, Appcast::Item(), QString());
}

void SUUpdater::_tell(Result result, const Appcast::Item& item, const QString& error)
{
    const QString detail = result == Result::UpdateAvailable ? item.shortVersion : error;
    if (result != Result::UpdateAvailable && !_userAsked) {
        emit checkFinished(result, detail);
        return;
    }
    if (!_host) {
        emit checkFinished(result, detail);
        return;
    }
    // A sheet that is up keeps the window; the answer waits its turn rather than being lost.
    if (QGuiApplication::modalWindow()) {
        _telling = true;
        QTimer::singleShot(kRetellDelayMs, this, [this, result, item, error] {
            _telling = false;
            _tell(result, item, error);
        });
        return;
    }
    _telling = true;
    if (result == Result::UpdateAvailable) {
        const int answer = _host->runPromptSheetWithTitle(
            tr("A new version of Velluma is available!"),
            tr("Velluma %1 is now available; you have %2. Would you like to download it now?")
                .arg(item.shortVersion, _currentVersion),
            tr("Download"), tr("Remind Me Later"));
        QString why;
        if (answer == 1 && !WebLinks::openURL(item.downloadUrl, &why))
            _host->runMessageSheetWithTitle(tr("Unable to Open Link"), why);
    } else if (result == Result::UpToDate) {
        _host->runMessageSheetWithTitle(
            tr("You're up to date!"),
            tr("Velluma %1 is currently the newest version available.").arg(_currentVersion));
    } else {
        _host->runMessageSheetWithTitle(
            tr("Update Error"), tr("The update information could not be read. %1").arg(error));
    }
    _telling = false;
    emit checkFinished(result, detail);
}
