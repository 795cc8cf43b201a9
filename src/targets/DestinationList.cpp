#include "DestinationList.h"

#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "targets/Destination.h"

#include <QFileInfo>

#include <algorithm>

QVariantList DestinationList::recordsFromValue(const QVariant& value)
{
    if (value.typeId() != QMetaType::QVariantList)
        return {};
    QVariantList records;
    const QVariantList entries = value.toList();
    records.reserve(entries.size());
    for (const QVariant& entry : entries) {
        QVariantMap record = entry.toMap();
        if (entry.typeId() != QMetaType::QVariantMap || !Destination::isAvailable(record)) {
            records.append(entry);
            continue;
        }
        if (record.value(Destination::KEY_LABEL).typeId() != QMetaType::QString) {
            const QString path = record.value(Destination::KEY_DESTINATION).toString();
            record.insert(Destination::KEY_LABEL, QFileInfo(path).fileName());
        }
        records.append(record);
    }
    return records;
}

QVariantList DestinationList::storedRecords(const UserDefaults& defaults)
{
    return recordsFromValue(defaults.objectForKey(DefDestinations));
}

int DestinationList::storedDefault(const UserDefaults& defaults)
{
    return defaults.integerForKey(DefDefaultDestination);
}

QVariantMap DestinationList::destinationAtIndex(const UserDefaults& defaults, int index)
{
    const QVariantList records = storedRecords(defaults);
    if (index < 0 || index >= records.size())
        return {};
    return records.at(index).toMap();
}

void DestinationList::load(const UserDefaults& defaults)
{
    _destinations = storedRecords(defaults);
    _defaultDestination = storedDefault(defaults);
}

void DestinationList::store(UserDefaults& defaults) const
{
    defaults.setObject(QVariant(_destinations), DefDestinations);
    defaults.setInteger(_defaultDestination, DefDefaultDestination);
}

QVariantMap DestinationList::recordAt(int row) const
{
    return row >= 0 && row < count() ? _destinations.at(row).toMap() : QVariantMap();
}

int DestinationList::moveTarget(int from, int to)
{
    if (from < 0 || from >= count() || to < 0 || to > count())
        return -1;
    if (from == to || from + 1 == to)
        return from; // dropped just above or below itself: it stays
    const QVariant record = _destinations.at(from);
    if (from > to) {
        _destinations.removeAt(from);
        _destinations.insert(to, record);
        return to;
    }
    _destinations.insert(to, record);
    _destinations.removeAt(from);
    return to - 1;
}

int DestinationList::insert(const QVariantMap& record, int row)
{
    const int at = std::clamp(row, 0, count());
    _destinations.insert(at, record);
    return at;
}

bool DestinationList::removeAt(int row)
{
    if (row < 0 || row >= count())
        return false;
    _destinations.removeAt(row);
    return true;
}
