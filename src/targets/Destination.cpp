#include "Destination.h"

#include "foundation/DictionaryAccess.h"
#include "targets/ApplicationLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace Destination {

bool isPackage(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() && info.fileName().endsWith(QLatin1String(".app"), Qt::CaseInsensitive);
}

bool isApp(const QString& path)
{
    if (path.isEmpty())
        return false;
    if (isPackage(path))
        return true;
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return false;
    // A desktop entry is launched through the desktop's rules, never executed itself, so an
    // entry the desktop cannot read is no application even when its file is executable.
    if (ApplicationLauncher::isDesktopEntryPath(path))
        return ApplicationLauncher::isLaunchableEntry(path);
    return info.isExecutable();
}

bool isFolder(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir() && !isPackage(path);
}

bool isFile(const QString& path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && info.exists() && !info.isDir();
}

QVariantMap configWithDestination(const QString& path, const QString& label, int targetType)
{
    return {{KEY_DESTINATION, path}, {KEY_LABEL, label}, {KEY_TARGET_TYPE, targetType}};
}

QVariantMap configForPath(const QString& path)
{
    int type = 0;
    if (isApp(path))
        type = Application;
    else if (isFolder(path))
        type = Folder;
    else
        return {};
    QString label;
    if (type == Application && ApplicationLauncher::isDesktopEntryPath(path))
        label = ApplicationLauncher::entryName(path);
    if (label.isEmpty()) {
        // Everything from the last dot on goes, so "Photos.2009" is "Photos".
        QString name = QFileInfo(QDir::cleanPath(path)).fileName();
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        label = dot > 0 ? name.left(dot) : name;
    }
    return configWithDestination(path, label, type);
}

bool isAvailable(const QVariantMap& record)
{
    const QVariant path = record.value(KEY_DESTINATION);
    return path.typeId() == QMetaType::QString && !path.toString().isEmpty();
}

QString labelForDestination(const QVariantMap& record)
{
    const QString label = record.value(KEY_LABEL).toString();
    if (!isAvailable(record)) {
        return label.isEmpty()
                   ? QCoreApplication::translate("Destination", "Unavailable Destination")
                   : QCoreApplication::translate("Destination", "%1 (Unavailable)").arg(label);
    }
    switch (targetType(record)) {
    case Application:
        return QCoreApplication::translate("Destination", "Open in %1").arg(label);
    case Folder:
        if (label == QLatin1String("Desktop"))
            return QCoreApplication::translate("Destination", "Save on %1").arg(label);
        return QCoreApplication::translate("Destination", "Save in %1").arg(label);
    default:
        return QCoreApplication::translate("Destination", "Unknown");
    }
}

QString nameForType(int targetType)
{
    switch (targetType) {
    case Folder:
        return QCoreApplication::translate("Destination", "Folder");
    case Application:
        return QCoreApplication::translate("Destination", "App");
    default:
        return QCoreApplication::translate("Destination", "Unknown");
    }
}

int targetType(const QVariantMap& record)
{
    return DictionaryAccess::integerForKey(record, KEY_TARGET_TYPE);
}

QString expandedPath(const QString& path)
{
    if (path == QLatin1String("~"))
        return QDir::homePath();
    if (path.startsWith(QLatin1String("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

} // namespace Destination
