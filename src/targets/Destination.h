#pragma once

#include <QString>
#include <QVariantMap>

// A destination record: a dictionary with the folder or application in "destination", the
// name shown in "label", the kind in "targetType" and an optional "tag" for its menu item.
// Records are values; the list edits add, remove and reorder them, never change them.
namespace Destination {

inline const QString KEY_DESTINATION = QStringLiteral("destination");
inline const QString KEY_LABEL = QStringLiteral("label");
inline const QString KEY_TARGET_TYPE = QStringLiteral("targetType");
inline const QString KEY_TAG = QStringLiteral("tag");

// Any other stored value is listed as "Unknown" and sends nothing.
enum Type : int { Folder = 0, Application = 1 };

// An application: a desktop entry that the desktop can launch, a folder whose name ends in
// ".app", or an executable file that is no folder.
bool isApp(const QString& path);
// A folder that is not such an ".app" package.
bool isFolder(const QString& path);
// Something that exists and is no folder.
bool isFile(const QString& path);
// A folder whose name ends in ".app" (any case), the one kind of package there is here.
bool isPackage(const QString& path);

// A record with exactly "destination", "label" and "targetType".
QVariantMap configWithDestination(const QString& path, const QString& label, int targetType);
// The record for a dropped or chosen path; empty when it is neither application nor folder.
// The label is the last path component without its extension, or the name a desktop entry
// gives itself.
QVariantMap configForPath(const QString& path);

// The record names a location to send to: its "destination" is text that is not empty.
// A stored entry without one keeps its place in the list but sends nothing.
bool isAvailable(const QVariantMap& record);

// "Save in %1", "Save on %1" for a folder labelled exactly "Desktop", "Open in %1" for an
// application, "Unknown" for any other type; an unavailable record says so.
QString labelForDestination(const QVariantMap& record);
// "Folder", "App" or "Unknown", as the setup table shows the type.
QString nameForType(int targetType);

int targetType(const QVariantMap& record);
// The stored path with a leading "~" turned into the home folder, as the factory list
// writes its folders.
QString expandedPath(const QString& path);

} // namespace Destination
