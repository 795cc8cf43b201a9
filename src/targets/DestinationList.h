#pragma once

#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

class UserDefaults;

// The ordered destinations and the position of the default one, as stored under
// "Destinations" and "DefaultDestination", and the working copy the setup sheet edits.
// The default is a position, not a reference: moving or removing records leaves it where
// it is, so it may point at another record or past the end (then it selects nothing).
class DestinationList {
public:
    // The menus show no more than this many destinations: a menu of thousands of items
    // helps nobody and would take long to build. The list itself keeps them all.
    static constexpr int kMaxMenuItems = 200;

    // The records of a stored value, as the menus and the sheet use them. A value that is
    // no list gives none. Every entry keeps its position, since the default and the menu
    // shortcuts are positions: one that is no dictionary or has no path stays as it was
    // stored and is shown as unavailable (Destination::isAvailable). A label that is no
    // text is made from the path; other keys stay as they are.
    static QVariantList recordsFromValue(const QVariant& value);
    static QVariantList storedRecords(const UserDefaults& defaults);
    static int storedDefault(const UserDefaults& defaults);
    // The stored record at that position; empty outside the list and for an entry that is
    // no dictionary.
    static QVariantMap destinationAtIndex(const UserDefaults& defaults, int index);

    // Working copy: loaded from the stored list, written back as a whole.
    void load(const UserDefaults& defaults);
    void store(UserDefaults& defaults) const;

    const QVariantList& records() const { return _destinations; }
    int count() const { return int(_destinations.size()); }
    QVariantMap recordAt(int row) const;
    int defaultDestination() const { return _defaultDestination; }
    void setDefaultDestination(int row) { _defaultDestination = row; }

    // Moves the record at from to the drop position to (0 above the first row, count()
    // below the last). The row the record ends up in, which the table then selects; -1
    // when from is no row or to no position.
    int moveTarget(int from, int to);
    // Inserts at row, clamped to the list; the row it went to.
    int insert(const QVariantMap& record, int row);
    bool removeAt(int row);

private:
    QVariantList _destinations;
    int _defaultDestination = 0;
};
