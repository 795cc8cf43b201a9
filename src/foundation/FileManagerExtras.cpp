#include "FileManagerExtras.h"

#include "Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace FileManagerExtras {

bool isDirectory(const QString& path)
{
    if (path.isEmpty())
        return false;
    return QFileInfo(path).isDir();
}

namespace {
bool makeOne(const QString& path, std::optional<QFileDevice::Permissions> permissions)
{
    QDir parent = QFileInfo(path).dir();
    if (!parent.exists())
        return false;
    if (!parent.mkdir(QFileInfo(path).fileName()))
        return false;
    if (permissions && !QFile::setPermissions(path, *permissions))
        qCWarning(lcVelluma, "The permissions of the new folder %s could not be set",
                  qUtf8Printable(path));
    return true;
}
} // namespace

bool createDirectoryAtPath(const QString& path, std::optional<QFileDevice::Permissions> permissions,
                           bool recursive)
{
    if (path.isEmpty())
        return false;
    const QString clean =
        QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
    if (!recursive) {
        if (QFileInfo::exists(clean) || QFileInfo(clean).isSymLink())
            return false;
        return makeOne(clean, permissions);
    }
    const QFileInfo info(clean);
    if (info.exists() || info.isSymLink())
        return info.isDir();
    const QString parent = info.path();
    if (parent != clean && !createDirectoryAtPath(parent, permissions, true))
        return false;
    return makeOne(clean, permissions);
}

} // namespace FileManagerExtras
