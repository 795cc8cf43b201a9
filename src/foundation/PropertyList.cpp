#include "PropertyList.h"

#include "FileManagerExtras.h"
#include "Logging.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <plist/plist.h>

#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

// Seconds between 1970-01-01 and the property-list epoch 2001-01-01.
constexpr qint64 kPlistEpochOffset = 978307200;

struct PlistDeleter {
    void operator()(plist_t p) const
    {
        if (p)
            plist_free(p);
    }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// Hostile files may nest containers tens of thousands deep, which exhausts the stack of
// libplist's own parser, or, in the binary form, refer to the same array twice at every
// level, which expands to billions of nodes. Both are refused before libplist sees them.
constexpr int kMaxNesting = 64;
constexpr qint64 kMaxExpandedObjects = 1000000;

bool startsWithAt(const char* p, const char* end, const char* word)
{
    const size_t n = std::strlen(word);
    return size_t(end - p) >= n && std::memcmp(p, word, n) == 0;
}

bool xmlShapeAcceptable(const QByteArray& data)
{
    const char* p = data.constData();
    const char* const end = p + data.size();
    int depth = 0;
    while (p < end) {
        p = static_cast<const char*>(std::memchr(p, '<', size_t(end - p)));
        if (!p)
            break;
        ++p;
        const bool closing = p < end && *p == '/';
        const char* name = closing ? p + 1 : p;
        if (!startsWithAt(name, end, "array") && !startsWithAt(name, end, "dict"))
            continue;
        const char* close = static_cast<const char*>(std::memchr(name, '>', size_t(end - name)));
        if (!close)
            break;
        if (closing)
            --depth;
        else if (close[-1] != '/' && ++depth > kMaxNesting)
            return false;
        p = close + 1;
    }
    return true;
}

quint64 readBigEndian(const uchar* p, int size)
{
    quint64 value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | p[i];
    return value;
}

// Walks the object graph of a binary property list without recursion: its nesting and the
// number of nodes it expands to, counting a shared object once per reference.
bool binaryShapeAcceptable(const QByteArray& data)
{
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    const quint64 size = quint64(data.size());
    if (size < 8 + 32)
        return false;
    const uchar* trailer = bytes + size - 32;
    const int offsetSize = trailer[6];
    const int refSize = trailer[7];
    const quint64 count = readBigEndian(trailer + 8, 8);
    const quint64 top = readBigEndian(trailer + 16, 8);
    const quint64 table = readBigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || count == 0 ||
        count > size || top >= count || table >= size || (size - table) / offsetSize < count)
        return false;

    // The references of a container object, or none for anything else.
    auto children = [&](quint64 object, std::vector<quint64>* refs) {
        refs->clear();
        const quint64 offset = readBigEndian(bytes + table + object * offsetSize, offsetSize);
        if (offset >= size - 32)
            return false;
        const uchar marker = bytes[offset];
        const int kind = marker >> 4;
        if (kind != 0xA && kind != 0xC && kind != 0xD)
            return true;
        quint64 entries = marker & 0x0F;
        quint64 at = offset + 1;
        if (entries == 0x0F) {
            if (at >= size || (bytes[at] >> 4) != 0x1)
                return false;
            const int intSize = 1 << (bytes[at] & 0x0F);
            if (intSize > 8 || at + 1 + intSize > size)
                return false;
            entries = readBigEndian(bytes + at + 1, intSize);
            at += 1 + intSize;
        }
        const quint64 refCount = kind == 0xD ? entries * 2 : entries;
        if (entries > size || (size - at) / refSize < refCount)
            return false;
        refs->reserve(refCount);
        for (quint64 i = 0; i < refCount; ++i) {
            const quint64 ref = readBigEndian(bytes + at + i * refSize, refSize);
            if (ref >= count)
                return false;
            refs->push_back(ref);
        }
        return true;
    };

    enum State : uchar { Unseen, Open, Done };
    std::vector<State> state(count, Unseen);
    std::vector<qint64> expanded(count, 0);
    struct Frame {
        quint64 object;
        std::vector<quint64> refs;
        size_t next = 0;
        qint64 nodes = 1;
    };
    std::vector<Frame> stack;
    stack.push_back({top, {}});
    if (!children(top, &stack.back().refs))
        return false;
    state[top] = Open;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.refs.size()) {
            state[frame.object] = Done;
            expanded[frame.object] = frame.nodes;
            const qint64 nodes = frame.nodes;
            stack.pop_back();
            if (!stack.empty() && (stack.back().nodes += nodes) > kMaxExpandedObjects)
                return false;
            continue;
        }
        const quint64 child = frame.refs[frame.next++];
        if (state[child] == Open)
            return false; // a container holding itself
        if (state[child] == Done) {
            if ((frame.nodes += expanded[child]) > kMaxExpandedObjects)
                return false;
            continue;
        }
        if (int(stack.size()) >= kMaxNesting)
            return false;
        Frame next{child, {}};
        if (!children(child, &next.refs))
            return false;
        state[child] = Open;
        stack.push_back(std::move(next));
    }
    return true;
}

QVariant toVariant(plist_t node, int depth)
{
    if (!node || depth > kMaxNesting)
        return {};
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t v = 0;
        plist_get_bool_val(node, &v);
        return QVariant(v != 0);
    }
    case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return QVariant(static_cast<qint64>(v));
    }
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        return QVariant(v);
    }
    case PLIST_STRING: {
        char* s = nullptr;
        plist_get_string_val(node, &s);
        QString str = s ? QString::fromUtf8(s) : QString();
        free(s);
        return QVariant(str);
    }
    case PLIST_DATA: {
        char* d = nullptr;
        uint64_t len = 0;
        plist_get_data_val(node, &d, &len);
        QByteArray bytes(d, static_cast<qsizetype>(len));
        free(d);
        return QVariant(bytes);
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return QVariant(QDateTime::fromMSecsSinceEpoch(
            (kPlistEpochOffset + sec) * 1000 + usec / 1000, QTimeZone::utc()));
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t n = plist_array_get_size(node);
        for (uint32_t i = 0; i < n; ++i) {
            QVariant v = toVariant(plist_array_get_item(node, i), depth + 1);
            if (v.isValid())
                list.append(v);
        }
        return list;
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        if (!it)
            return map;
        for (;;) {
            char* key = nullptr;
            plist_t val = nullptr;
            plist_dict_next_item(node, it, &key, &val);
            if (!val) {
                free(key);
                break;
            }
            QVariant v = toVariant(val, depth + 1);
            if (key && v.isValid())
                map.insert(QString::fromUtf8(key), v);
            free(key);
        }
        free(it);
        return map;
    }
    default:
        return {};
    }
}

plist_t fromVariant(const QVariant& value, int depth)
{
    if (depth > kMaxNesting)
        return nullptr;
    switch (value.typeId()) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::UShort:
        return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return plist_new_uint(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QString:
        return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::QByteArray: {
        const QByteArray b = value.toByteArray();
        return plist_new_data(b.constData(), static_cast<uint64_t>(b.size()));
    }
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kPlistEpochOffset * 1000;
        return plist_new_date(static_cast<int32_t>(ms / 1000),
                              static_cast<int32_t>((ms % 1000) * 1000));
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        plist_t arr = plist_new_array();
        for (const QVariant& v : value.toList()) {
            if (plist_t item = fromVariant(v, depth + 1))
                plist_array_append_item(arr, item);
        }
        return arr;
    }
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (plist_t item = fromVariant(it.value(), depth + 1))
                plist_dict_set_item(dict, it.key().toUtf8().constData(), item);
        }
        return dict;
    }
    default:
        return nullptr;
    }
}

} // namespace

namespace PropertyList {

QVariant fromData(const QByteArray& data)
{
    if (data.isEmpty() || data.size() > std::numeric_limits<uint32_t>::max())
        return {};
    plist_t root = nullptr;
    const auto len = static_cast<uint32_t>(data.size());
    if (plist_is_binary(data.constData(), len)) {
        if (!binaryShapeAcceptable(data)) {
            qCWarning(lcVelluma, "A binary property list is nested too deeply, refers to itself "
                                 "or expands to too many objects; refused");
            return {};
        }
        plist_from_bin(data.constData(), len, &root);
    } else {
        // The XML parser wants to see the document element; anything else is not a plist
        // and is refused before it reaches the parser.
        if (!data.contains("<plist")) {
            qCWarning(lcVelluma, "%lld bytes of data are not a property list", qint64(data.size()));
            return {};
        }
        if (!xmlShapeAcceptable(data)) {
            qCWarning(lcVelluma, "A property list nests more than %d levels; refused", kMaxNesting);
            return {};
        }
        plist_from_xml(data.constData(), len, &root);
    }
    if (!root)
        qCWarning(lcVelluma, "%lld bytes of data could not be parsed as a property list",
                  qint64(data.size()));
    PlistPtr guard(root);
    return toVariant(root, 0);
}

QVariant fromFile(const QString& path, qint64 maxBytes)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        qCWarning(lcVelluma, "The property list %s could not be opened: %s", qUtf8Printable(path),
                  qUtf8Printable(f.errorString()));
        return {};
    }
    if (f.size() > maxBytes) {
        qCWarning(lcVelluma, "The property list %s is larger than %lld bytes", qUtf8Printable(path),
                  maxBytes);
        return {};
    }
    return fromData(f.read(maxBytes + 1));
}

QByteArray toData(const QVariant& value, bool binary)
{
    PlistPtr root(fromVariant(value, 0));
    if (!root)
        return {};
    char* out = nullptr;
    uint32_t len = 0;
    if (binary) {
        plist_to_bin(root.get(), &out, &len);
        QByteArray result(out, static_cast<qsizetype>(len));
        plist_to_bin_free(out);
        return result;
    }
    plist_to_xml(root.get(), &out, &len);
    QByteArray result(out, static_cast<qsizetype>(len));
    plist_to_xml_free(out);
    return result;
}

bool toFile(const QVariant& value, const QString& path, bool binary)
{
    const QByteArray data = toData(value, binary);
    if (data.isEmpty()) {
        qCWarning(lcVelluma, "Nothing to write to %s: the value has no property list form",
                  qUtf8Printable(path));
        return false;
    }
    QString why;
    if (!FileManagerExtras::writeFileAtomically(path, data, &why)) {
        qCWarning(lcVelluma, "The property list %s could not be written: %s", qUtf8Printable(path),
                  qUtf8Printable(why));
        return false;
    }
    return true;
}

} // namespace PropertyList
