#pragma once

#include <QString>
#include <QVariantMap>

#include <cstdint>

// Typed reads and writes of dictionary values that never fail.
namespace DictionaryAccess {

// The value's signed 32-bit integer form: numbers and strings of digits ("3" gives 3);
// 0 for a missing key or a value with no integer form (a date, an array, "abc").
int32_t integerForKey(const QVariantMap& dict, const QString& key);

// The same rule for a single value (an invalid QVariant gives 0).
int32_t integerValue(const QVariant& value);

void setBoolForKey(QVariantMap& dict, bool value, const QString& key);

} // namespace DictionaryAccess
