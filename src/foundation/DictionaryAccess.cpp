#include "DictionaryAccess.h"

#include <limits>

namespace DictionaryAccess {

int32_t integerForKey(const QVariantMap& dict, const QString& key)
{
    const auto it = dict.constFind(key);
    return it == dict.cend() ? 0 : integerValue(it.value());
}

int32_t integerValue(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? 1 : 0;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return static_cast<int32_t>(v.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return static_cast<int32_t>(v.toDouble());
    case QMetaType::QString: {
        // Like a string's intValue: leading blanks and a sign, then the leading digits;
        // whatever follows is ignored and no digits at all give 0.
        const QString s = v.toString().trimmed();
        qsizetype i = 0;
        bool negative = false;
        if (i < s.size() && (s[i] == QLatin1Char('+') || s[i] == QLatin1Char('-'))) {
            negative = s[i] == QLatin1Char('-');
            ++i;
        }
        qint64 n = 0;
        for (; i < s.size() && s[i].isDigit() && s[i].unicode() < 128; ++i) {
            n = n * 10 + (s[i].unicode() - '0');
            if (n > std::numeric_limits<int32_t>::max())
                return negative ? std::numeric_limits<int32_t>::min()
                                : std::numeric_limits<int32_t>::max();
        }
        return static_cast<int32_t>(negative ? -n : n);
    }
    default:
        return 0;
    }
}

void setBoolForKey(QVariantMap& dict, bool value, const QString& key)
{
    dict.insert(key, QVariant(value));
}

} // namespace DictionaryAccess
