#pragma once

#include <QString>

namespace StringExtras {

// A copy with every occurrence of target replaced; the receiver is unchanged.
inline QString stringByReplacingOccurrencesOfString(const QString& receiver, const QString& target,
                                                    const QString& replacement,
                                                    Qt::CaseSensitivity cs = Qt::CaseSensitive)
{
    if (target.isEmpty())
        return receiver;
    QString copy = receiver;
    return copy.replace(target, replacement, cs);
}

} // namespace StringExtras
