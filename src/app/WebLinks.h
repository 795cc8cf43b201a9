#pragma once

#include <QString>
#include <QUrl>

// The maker's web site, its pages and downloads, and the one door through which the program
// hands an address to the desktop. Only web pages (http, https) and mail (mailto) leave
// through it: an address from a feed or a setting must never start a local file or another
// handler.
class WebLinks {
public:
    // The maker's products, as the download commands name them.
    enum Product { ProductTrimlet = 1, ProductShuttlebox = 2 };

    static QUrl websiteUrl();
    static QUrl contactUrl();
    // A page of the web site by its path ("velluma/fb/"); invalid for a path that is not
    // relative to the site.
    static QUrl pageUrl(const QString& path);
    // The download document of a product ("download/Trimlet.dmg"); empty for an unknown one.
    static QString downloadPath(int product);

    static bool isAllowed(const QUrl& url);

    // Hands the address to the desktop's browser or mail program. False with the reason in
    // *error when the address is refused or no program took it.
    static bool openURL(const QUrl& url, QString* error = nullptr);
    static bool visitPage(const QString& path, QString* error = nullptr);
    static bool download(int product, QString* error = nullptr);
};
