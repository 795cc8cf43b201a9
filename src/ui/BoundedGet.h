#pragma once

#include <QtGlobal>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

// Downloads from the web never wait or take without limit: a slow trickle and an announced
// length past the limit are stopped as soon as they show. Counting the bytes as they
// arrive stays with the caller, which decides where they go.
namespace BoundedGet {

enum class Refusal { TooSlow, TooLarge };

// A GET of at most five redirects, none to a less safe scheme. The reply is aborted, after
// refused says why, once timeoutMs have passed in all or when its announced length passes
// maxBytes. The reply belongs to the caller, as QNetworkAccessManager's do.
QNetworkReply* start(QNetworkAccessManager& manager, const QUrl& url, int timeoutMs,
                     qint64 maxBytes, const std::function<void(Refusal)>& refused);

} // namespace BoundedGet
