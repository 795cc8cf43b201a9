#include "Appcast.h"

#include "foundation/InputGuard.h"

#include <QCoreApplication>
#include <QXmlStreamReader>

namespace {

struct Chunk {
    bool number = false;
    QStringView text;
};

bool isSeparator(QChar c)
{
    return c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('_') ||
           c == QLatin1Char('+') || c.isSpace();
}

QList<Chunk> chunks(QStringView version)
{
    QList<Chunk> list;
    qsizetype i = 0;
    while (i < version.size()) {
        if (isSeparator(version[i])) {
            ++i;
            continue;
        }
        const bool number = version[i].isDigit();
        const qsizetype start = i;
        while (i < version.size() && !isSeparator(version[i]) && version[i].isDigit() == number)
            ++i;
        QStringView text = version.mid(start, i - start);
        // Leading zeros say nothing; "007" is 7. Numbers longer than any integer type
        // still compare, by length first.
        while (number && text.size() > 1 && text.front() == QLatin1Char('0'))
            text = text.mid(1);
        list.append({number, text});
    }
    return list;
}

int compareChunks(const Chunk& a, const Chunk& b)
{
    if (a.number != b.number)
        return a.number ? 1 : -1; // a release number beats pre-release letters
    if (a.number) {
        if (a.text.size() != b.text.size())
            return a.text.size() < b.text.size() ? -1 : 1;
        return a.text.compare(b.text);
    }
    return a.text.compare(b.text, Qt::CaseInsensitive);
}

bool isZero(const Chunk& chunk)
{
    return chunk.number && chunk.text == QLatin1String("0");
}

// What the longer version's extra parts make of it: trailing zeros nothing, a further
// number a later release, letters a pre-release.
int compareRest(const QList<Chunk>& longer, qsizetype from)
{
    for (qsizetype i = from; i < longer.size(); ++i) {
        if (isZero(longer[i]))
            continue;
        return longer[i].number ? 1 : -1;
    }
    return 0;
}

bool isWebUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

// The feed's own prefix for its attributes and elements is a convention; any prefix with
// that local name counts, so a feed that declares the namespace under another name works.
bool hasLocalName(QStringView qualifiedName, QLatin1String localName)
{
    const qsizetype colon = qualifiedName.lastIndexOf(QLatin1Char(':'));
    return colon >= 0 && qualifiedName.mid(colon + 1) == localName;
}

QString attribute(const QXmlStreamAttributes& attributes, QLatin1String localName)
{
    for (const QXmlStreamAttribute& a : attributes) {
        if (hasLocalName(a.qualifiedName(), localName))
            return a.value().toString().trimmed();
    }
    return QString();
}

} // namespace

int Appcast::compareVersions(const QString& a, const QString& b)
{
    const QList<Chunk> left = chunks(a);
    const QList<Chunk> right = chunks(b);
    const qsizetype common = std::min(left.size(), right.size());
    for (qsizetype i = 0; i < common; ++i) {
        const int order = compareChunks(left[i], right[i]);
        if (order != 0)
            return order < 0 ? -1 : 1;
    }
    if (left.size() > common)
        return compareRest(left, common);
    if (right.size() > common)
        return -compareRest(right, common);
    return 0;
}

bool Appcast::parse(const QByteArray& data, QList<Item>* items, QString* error)
{
    // Qt's reader would expand a feed's entities however far they go, on the window's thread.
    QString refused;
    if (!InputGuard::checkMarkup(data, &refused)) {
        if (error)
            *error =
                QCoreApplication::translate("Appcast", "The update information is refused: %1.")
                    .arg(refused);
        return false;
    }
    QList<Item> found;
    QXmlStreamReader xml(data);
    // The names are matched as written, so an undeclared prefix does not spoil the feed.
    xml.setNamespaceProcessing(false);
    bool sawRss = false;
    bool inItem = false;
    Item item;
    QString link;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QStringView name = xml.qualifiedName();
            if (!sawRss) {
                if (name != QLatin1String("rss")) {
                    if (error)
                        *error = QCoreApplication::translate(
                            "Appcast", "The update information is no RSS feed.");
                    return false;
                }
                sawRss = true;
            } else if (name == QLatin1String("item")) {
                inItem = true;
                item = Item();
                link.clear();
            } else if (inItem && name == QLatin1String("enclosure")) {
                const QXmlStreamAttributes attributes = xml.attributes();
                const QUrl url(attributes.value(QLatin1String("url")).toString().trimmed());
                if (isWebUrl(url))
                    item.downloadUrl = url;
                const QString version = attribute(attributes, QLatin1String("version"));
                if (!version.isEmpty())
                    item.version = version;
                const QString shortVersion =
                    attribute(attributes, QLatin1String("shortVersionString"));
                if (!shortVersion.isEmpty())
                    item.shortVersion = shortVersion;
            } else if (inItem && name == QLatin1String("title")) {
                item.title = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            } else if (inItem && name == QLatin1String("link")) {
                link = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            } else if (inItem && hasLocalName(name, QLatin1String("version"))) {
                if (item.version.isEmpty())
                    item.version =
                        xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            } else if (inItem && hasLocalName(name, QLatin1String("shortVersionString"))) {
                if (item.shortVersion.isEmpty())
                    item.shortVersion =
                        xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            }
        } else if (token == QXmlStreamReader::EndElement && inItem &&
                   xml.qualifiedName() == QLatin1String("item")) {
            inItem = false;
            if (item.downloadUrl.isEmpty() && isWebUrl(QUrl(link)))
                item.downloadUrl = QUrl(link);
            if (item.shortVersion.isEmpty())
                item.shortVersion = item.version;
            if (!item.version.isEmpty() && !item.downloadUrl.isEmpty())
                found.append(item);
        }
    }
    if (xml.hasError() || !sawRss) {
        if (error)
            *error =
                xml.hasError()
                    ? QCoreApplication::translate(
                          "Appcast", "The update information is damaged (line %1: %2).")
                          .arg(xml.lineNumber())
                          .arg(xml.errorString())
                    : QCoreApplication::translate("Appcast", "The update information is empty.");
        return false;
    }
    if (items)
        *items = found;
    return true;
}

std::optional<Appcast::Item> Appcast::newerItem(const QList<Item>& items,
                                                const QString& currentVersion)
{
    std::optional<Item> newest;
    for (const Item& item : items) {
        if (!newest || compareVersions(item.version, newest->version) > 0)
            newest = item;
    }
    if (newest && compareVersions(newest->version, currentVersion) > 0)
        return newest;
    return std::nullopt;
}
