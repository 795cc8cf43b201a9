#include "foundation/InputGuard.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringConverter>

#include <algorithm>
#include <functional>

namespace InputGuard {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("InputGuard", text);
}

bool fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
}

bool isSpace(quint32 c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Text whose first character is '<', in any width and byte order Qt's readers detect: the
// SVG plugin claims such bytes as a drawing.
bool startsWithMarkup(QByteArrayView head)
{
    for (const int unit : {1, 2, 4}) {
        for (const bool bigEndian : {false, true}) {
            if (unit == 1 && bigEndian)
                continue;
            qsizetype i = unit == 1 && head.startsWith("\xEF\xBB\xBF") ? 3 : 0;
            for (; i + unit <= head.size(); i += unit) {
                quint32 c = 0;
                for (int k = 0; k < unit; ++k)
                    c = c << 8 | quint8(head[i + (bigEndian ? k : unit - 1 - k)]);
                if (c == 0xFEFF || isSpace(c))
                    continue;
                if (c == '<')
                    return true;
                break;
            }
        }
    }
    return false;
}

// The value of encoding="..." in the XML declaration at the start, lower case.
QByteArray declaredEncoding(QByteArrayView s)
{
    if (s.startsWith("\xEF\xBB\xBF"))
        s = s.sliced(3);
    if (!s.startsWith("<?xml"))
        return {};
    const qsizetype end = s.indexOf("?>");
    const QByteArrayView declaration = s.first(end < 0 ? std::min<qsizetype>(s.size(), 256) : end);
    const qsizetype at = declaration.indexOf("encoding");
    if (at < 0)
        return {};
    qsizetype i = at + 8;
    while (i < declaration.size() && (isSpace(quint8(declaration[i])) || declaration[i] == '='))
        ++i;
    if (i >= declaration.size())
        return {};
    const char quote = declaration[i];
    const qsizetype close = declaration.indexOf(quote, i + 1);
    if (close < 0)
        return {};
    return declaration.sliced(i + 1, close - i - 1).toByteArray().toLower();
}

// Reads the internal subset of a document type declaration: general entities and their
// literal values. Everything that could make the reader produce more than the file holds
// without a reference in the document itself is refused.
class SubsetReader {
public:
    explicit SubsetReader(QByteArrayView s) : _s(s) {}

    // From just after "<!DOCTYPE"; on success _pos is just after the declaration's end.
    bool read(QString* error)
    {
        char quote = 0;
        for (; _pos < _s.size(); ++_pos) {
            const char c = _s[_pos];
            if (quote) {
                quote = c == quote ? char(0) : quote;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                ++_pos;
                return true; // no internal subset: nothing outside is fetched
            } else if (c == '[') {
                ++_pos;
                break;
            }
        }
        while (true) {
            skipSpace();
            if (_pos >= _s.size())
                return fail(error, unreadable());
            if (_s[_pos] == ']') {
                ++_pos;
                return true;
            }
            if (at("<!--")) {
                if (!skipPast("-->", 4))
                    return fail(error, unreadable());
            } else if (at("<?")) {
                if (!skipPast("?>", 2))
                    return fail(error, unreadable());
            } else if (at("<!ENTITY")) {
                if (!readEntity(error))
                    return false;
            } else if (at("<!ATTLIST")) {
                bool quoted = false;
                if (!skipDeclaration(&quoted))
                    return fail(error, unreadable());
                // A default is added to every element of the type, however many there are.
                if (quoted)
                    return fail(error, tr("the document declares attribute defaults"));
            } else if (at("<!ELEMENT") || at("<!NOTATION")) {
                if (!skipDeclaration(nullptr))
                    return fail(error, unreadable());
            } else {
                // Parameter references and whatever else: not followed here.
                return fail(error, unreadable());
            }
        }
    }

    qsizetype position() const { return _pos; }
    const QHash<QByteArray, QByteArray>& entities() const { return _entities; }

private:
    static QString unreadable() { return tr("the document type declaration cannot be read"); }

    bool at(const char* text) const { return _s.sliced(_pos).startsWith(text); }

    void skipSpace()
    {
        while (_pos < _s.size() && isSpace(quint8(_s[_pos])))
            ++_pos;
    }

    bool skipPast(const char* end, qsizetype from)
    {
        const qsizetype found = _s.indexOf(end, _pos + from);
        if (found < 0)
            return false;
        _pos = found + qsizetype(qstrlen(end));
        return true;
    }

    bool skipDeclaration(bool* quoted)
    {
        char quote = 0;
        for (_pos += 2; _pos < _s.size(); ++_pos) {
            const char c = _s[_pos];
            if (quote) {
                quote = c == quote ? char(0) : quote;
            } else if (c == '"' || c == '\'') {
                quote = c;
                if (quoted)
                    *quoted = true;
            } else if (c == '>') {
                ++_pos;
                return true;
            }
        }
        return false;
    }

    bool readEntity(QString* error)
    {
        _pos += 8;
        skipSpace();
        if (_pos < _s.size() && _s[_pos] == '%')
            return fail(error, tr("the document declares parameter entities"));
        const qsizetype nameStart = _pos;
        while (_pos < _s.size() && !isSpace(quint8(_s[_pos])) && _s[_pos] != '"' &&
               _s[_pos] != '\'' && _s[_pos] != '>')
            ++_pos;
        const QByteArray name = _s.sliced(nameStart, _pos - nameStart).toByteArray();
        skipSpace();
        if (name.isEmpty() || _pos >= _s.size())
            return fail(error, unreadable());
        const char quote = _s[_pos];
        if (quote != '"' && quote != '\'')
            return fail(error, tr("the document declares external entities"));
        const qsizetype close = _s.indexOf(quote, _pos + 1);
        if (close < 0)
            return fail(error, unreadable());
        const QByteArrayView value = _s.sliced(_pos + 1, close - _pos - 1);
        // A character reference in a value is replaced when it is declared, and could make
        // a reference the value does not show.
        if (value.contains("&#"))
            return fail(error, tr("the document declares entities with character references"));
        _pos = close + 1;
        skipSpace();
        if (_pos >= _s.size() || _s[_pos] != '>')
            return fail(error, unreadable());
        ++_pos;
        if (!_entities.contains(name)) // the first declaration binds
            _entities.insert(name, value.toByteArray());
        return true;
    }

    QByteArrayView _s;
    qsizetype _pos = 0;
    QHash<QByteArray, QByteArray> _entities;
};

constexpr qint64 Saturated = qint64(1) << 50;

// Calls found(name) for every "&name;" in text, in one pass.
void forEachReference(QByteArrayView text, const std::function<void(QByteArrayView)>& found)
{
    for (qsizetype i = text.indexOf('&'); i >= 0; i = text.indexOf('&', i)) {
        qsizetype j = ++i;
        while (j < text.size() && !isSpace(quint8(text[j])) &&
               !QByteArrayView("&;<>\"'").contains(text[j]))
            ++j;
        if (j < text.size() && text[j] == ';' && j > i)
            found(text.sliced(i, j - i));
    }
}

} // namespace

Kind sniff(QByteArrayView head)
{
    if (head.startsWith("\x1f\x8b"))
        return Kind::Packed;
    if (head.startsWith("\x89PNG\r\n\x1a\n"))
        return Kind::Png;
    if (head.startsWith("\xFF\xD8\xFF"))
        return Kind::Jpeg;
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return Kind::Gif;
    if (head.size() >= 12 && head.startsWith("RIFF") && head.sliced(8, 4) == "WEBP")
        return Kind::WebP;
    if (head.startsWith("BM"))
        return Kind::Bmp;
    if (startsWithMarkup(head.first(std::min<qsizetype>(head.size(), SniffBytes))))
        return Kind::Markup;
    return Kind::Unknown;
}

bool checkMarkup(QByteArrayView document, QString* error)
{
    // The markup looked for is ASCII: 8-bit documents are read as they are, wider ones as
    // UTF-8. Qt's reader picks the width as done here, then follows the declaration.
    QByteArray decoded;
    QByteArrayView s = document;
    const auto encoding = QStringConverter::encodingForData(document, u'<');
    const bool wide = encoding && *encoding != QStringConverter::Utf8 &&
                      *encoding != QStringConverter::Latin1 &&
                      *encoding != QStringConverter::System;
    if (wide) {
        QStringDecoder decoder(*encoding);
        decoded = QString(decoder.decode(document)).toUtf8();
        s = decoded;
    }
    const QByteArray declared = declaredEncoding(s);
    if (!declared.isEmpty() &&
        (declared.contains("16") || declared.contains("32") || declared.contains("ucs")) != wide)
        return fail(error, tr("the document's encoding does not match its bytes"));

    const qsizetype doctype = s.indexOf("<!DOCTYPE");
    if (doctype < 0)
        return true;
    SubsetReader subset(s.sliced(doctype + 9));
    if (!subset.read(error))
        return false;
    const QHash<QByteArray, QByteArray>& entities = subset.entities();
    if (entities.isEmpty())
        return true;

    QHash<QByteArray, qint64> lengths;
    QSet<QByteArray> open;
    bool tangled = false;
    std::function<qint64(const QByteArray&)> lengthOf = [&](const QByteArray& name) -> qint64 {
        if (const auto known = lengths.constFind(name); known != lengths.constEnd())
            return *known;
        // A loop, or a chain deeper than any real document has, which would exhaust the
        // stack here.
        if (open.contains(name) || open.size() > 64) {
            tangled = true;
            return Saturated;
        }
        open.insert(name);
        const QByteArray& value = entities.value(name);
        qint64 length = value.size();
        forEachReference(value, [&](QByteArrayView reference) {
            const QByteArray inner = reference.toByteArray();
            if (entities.contains(inner))
                length = std::min(Saturated, length + lengthOf(inner));
        });
        open.remove(name);
        lengths.insert(name, length);
        return length;
    };
    qint64 added = 0;
    forEachReference(s.sliced(doctype + 9 + subset.position()), [&](QByteArrayView reference) {
        const QByteArray name = reference.toByteArray();
        if (entities.contains(name))
            added = std::min(Saturated, added + lengthOf(name));
    });
    if (tangled)
        return fail(error, tr("the document's entities refer to themselves or nest too deep"));
    if (added > MaxEntityExpansion)
        return fail(
            error,
            tr("the document's entities expand to more than %1 KB").arg(MaxEntityExpansion / 1024));
    return true;
}

bool checkPicture(QByteArrayView head, QString* error)
{
    switch (sniff(head)) {
    case Kind::Packed:
        return fail(error, tr("it is a packed (gzip) file, not a picture"));
    case Kind::Markup:
        return fail(error, tr("it is a drawing or other text, not a picture"));
    default:
        return true;
    }
}

bool checkPictureFile(const QString& path, QString* error)
{
    // Pipes and devices are left to the caller, which refuses them without opening.
    if (!QFileInfo(path).isFile())
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    return checkPicture(file.read(SniffBytes), error);
}

bool isPlainRaster(QByteArrayView data)
{
    switch (sniff(data)) {
    case Kind::Png:
    case Kind::Jpeg:
    case Kind::Gif:
    case Kind::WebP:
    case Kind::Bmp:
        return true;
    default:
        return false;
    }
}

} // namespace InputGuard
