#include "WebLinks.h"

#include "foundation/VellumaVersion.h"

#include <QCoreApplication>
#include <QDesktopServices>

namespace {

const QString kSite = QStringLiteral("https://velluma.app/");

} // namespace

QUrl WebLinks::websiteUrl()
{
    return QUrl(kSite);
}

QUrl WebLinks::contactUrl()
{
    return QUrl(QStringLiteral("mailto:support@velluma.app?subject=Velluma%20" VELLUMA_VERSION));
}

QUrl WebLinks::pageUrl(const QString& path)
{
    const QUrl relative(path, QUrl::StrictMode);
    // Only a path below the site: "//host/", "https://elsewhere/" or "../" would leave it.
    if (!relative.isValid() || !relative.isRelative() || !relative.host().isEmpty() ||
        path.startsWith(QLatin1Char('/')) || path.contains(QLatin1String("..")))
        return QUrl();
    return websiteUrl().resolved(relative);
}

QString WebLinks::downloadPath(int product)
{
    switch (product) {
    case ProductTrimlet:
        return QStringLiteral("download/Trimlet.dmg");
    case ProductShuttlebox:
        return QStringLiteral("download/Shuttlebox.dmg");
    default:
        return QString();
    }
}

bool WebLinks::isAllowed(const QUrl& url)
{
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("mailto"))
        return !url.path().isEmpty();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

bool WebLinks::openURL(const QUrl& url, QString* error)
{
    if (!isAllowed(url)) {
        if (error)
            *error = QCoreApplication::translate("WebLinks", "Velluma opens only web and mail "
                                                             "addresses, not %1.")
                         .arg(url.toDisplayString());
        return false;
    }
    if (QDesktopServices::openUrl(url))
        return true;
    if (error)
        *error = QCoreApplication::translate("WebLinks", "No program of the desktop opened %1.")
                     .arg(url.toDisplayString());
    return false;
}

bool WebLinks::visitPage(const QString& path, QString* error)
{
    return openURL(pageUrl(path), error);
}

bool WebLinks::download(int product, QString* error)
{
    const QString path = downloadPath(product);
    if (path.isEmpty()) {
        if (error)
            *error =
                QCoreApplication::translate("WebLinks", "There is no download %1.").arg(product);
        return false;
    }
    return visitPage(path, error);
}
