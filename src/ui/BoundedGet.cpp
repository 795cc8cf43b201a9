#include "BoundedGet.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

QNetworkReply* BoundedGet::start(QNetworkAccessManager& manager, const QUrl& url, int timeoutMs,
                                 qint64 maxBytes, const std::function<void(Refusal)>& refused)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = manager.get(request);

    // The transfer timeout only counts idle time; a slow trickle is stopped here.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [reply, refused] {
        refused(Refusal::TooSlow);
        reply->abort();
    });
    deadline->start(timeoutMs);

    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, maxBytes, refused] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maxBytes) {
            refused(Refusal::TooLarge);
            reply->abort();
        }
    });
    return reply;
}
