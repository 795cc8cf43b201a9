#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// The update feed: an RSS document whose items each announce one release with its version
// and where to get it. The version is the enclosure's "sparkle:version" attribute (or an
// item element of that name); "sparkle:shortVersionString" is what the user is shown. The
// download link is the enclosure's url, else the item's <link>.
class Appcast {
public:
    struct Item {
        QString title;
        QString version;      // compared with the running version
        QString shortVersion; // shown to the user; the version when the feed gives none
        QUrl downloadUrl;     // http or https only
    };

    // The usable items in feed order. False with the reason in *error when the data is no
    // RSS feed; a feed without one usable item is read but has none.
    static bool parse(const QByteArray& data, QList<Item>* items, QString* error = nullptr);

    // <0, 0, >0 as a is older than, the same as or newer than b. Digits compare as numbers
    // of any length, letters as text; a missing part counts as zero, so "1.0" equals
    // "1.0.0", while letters after the common part mark a pre-release: "1.0b2" < "1.0".
    static int compareVersions(const QString& a, const QString& b);

    // The newest item of the feed when it is newer than currentVersion.
    static std::optional<Item> newerItem(const QList<Item>& items, const QString& currentVersion);
};
