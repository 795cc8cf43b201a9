#include "PropertyList.h"

#include "FileManagerExtras.h"
#include "Logging.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <plist/plist.h>

#include <limits>
#include <memory>

namespace {

// Seconds between 1970-01-01 and the property-list epoch 2001-01-01.
constexpr qint64 kPlistEpochOffset = 978307200;
// Hostile files can nest containers without end; a limit keeps the recursion bounded.
constexpr int kMaxDepth = 256;

struct PlistDeleter {
    void operator()(plist_t p) const
    {
        if (p)
            plist_free(p);
    }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

QVariant toVariant(plist_t node, int depth)
{
    if (!node || depth > kMaxDepth)
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
    if (depth > kMaxDepth)
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
        plist_from_bin(data.constData(), len, &root);
    } else {
        // The XML parser wants to see the document element; anything else is not a plist
        // and is refused before it reaches the parser.
        if (!data.contains("<plist")) {
            qCWarning(lcVelluma, "%lld bytes of data are not a property list", qint64(data.size()));
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
