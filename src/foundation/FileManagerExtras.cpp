#include "FileManagerExtras.h"

#include "Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <unistd.h>

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

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QString writeAll(QFileDevice& file, const char* data, qint64 size)
{
    // Whatever Qt still buffers goes first, so that the bytes land in order.
    if (!file.flush())
        return file.errorString();
    const int fd = file.handle();
    if (fd < 0)
        return systemError(EBADF);
    const char* next = data;
    qint64 left = size;
    while (left > 0) {
        const ssize_t written = ::write(fd, next, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return systemError(errno);
        if (written == 0)
            return systemError(EIO);
        next += written;
        left -= written;
    }
    return QString();
}

namespace {

QString sync(QFileDevice& file)
{
    // Some file systems cannot sync at all; the data is written as far as they go.
    if (::fsync(file.handle()) != 0 && errno != EINVAL && errno != ENOTSUP)
        return systemError(errno);
    return QString();
}

} // namespace

QString writeAndSync(QFileDevice& file, const QByteArray& data)
{
    const QString reason = writeAll(file, data.constData(), data.size());
    return reason.isEmpty() ? sync(file) : reason;
}

bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error)
{
    return writeFileAtomically(
        path, [&data](QFileDevice& file) { return writeAll(file, data.constData(), data.size()); },
        error);
}

bool writeFileAtomically(const QString& path, const std::function<QString(QFileDevice&)>& write,
                         QString* error)
{
    QSaveFile file(path);
    QString reason;
    if (!file.open(QIODevice::WriteOnly)) {
        // Qt's text says only that the file is not writable; the system says why (a
        // read-only file system, no permission).
        const QByteArray native = QFile::encodeName(path);
        const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
        if ((::access(native.constData(), F_OK) == 0 && ::access(native.constData(), W_OK) != 0) ||
            ::access(folder.constData(), W_OK) != 0)
            reason = systemError(errno);
        else
            reason = file.errorString();
    } else {
        reason = write(file);
        if (reason.isEmpty())
            reason = sync(file);
        if (!reason.isEmpty())
            file.cancelWriting();
        else if (!file.commit())
            reason = file.errorString();
    }
    if (error && !reason.isEmpty())
        *error = reason;
    return reason.isEmpty();
}

} // namespace FileManagerExtras
