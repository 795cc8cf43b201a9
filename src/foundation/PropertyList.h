#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// Property lists (XML or binary) read and written with libplist.
// Dictionaries become QVariantMap, arrays QVariantList, integers qint64, reals double,
// booleans bool, strings QString, data QByteArray, dates QDateTime.
namespace PropertyList {

// Parses XML or binary data. An invalid QVariant when the data is no property list.
QVariant fromData(const QByteArray& data);

// Reads a file; an invalid QVariant when it is missing, unreadable or no property list.
// Files larger than maxBytes are not read at all.
QVariant fromFile(const QString& path, qint64 maxBytes = 16 * 1024 * 1024);

// XML by default; binary when asked. Empty when the value has a type plists cannot hold.
QByteArray toData(const QVariant& value, bool binary = false);

// Writes atomically; false on failure, and the old file is left whole.
bool toFile(const QVariant& value, const QString& path, bool binary = false);

} // namespace PropertyList
