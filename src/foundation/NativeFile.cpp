#include "NativeFile.h"

#include "FileManagerExtras.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace {
const QLatin1String kDescriptorFolder("/proc/self/fd/");
} // namespace

NativeFile::NativeFile(QByteArray name) : _name(std::move(name)) {}

NativeFile::~NativeFile()
{
    if (_fd >= 0)
        ::close(_fd);
}

QString NativeFile::displayName() const
{
    return QFile::decodeName(_name);
}

bool NativeFile::isQtSpelled(const QByteArray& name)
{
    return QFile::encodeName(QFile::decodeName(name)) == name;
}

QString NativeFile::path(QString* error)
{
    if (isQtSpelled(_name))
        return QFile::decodeName(_name);
    if (_fd < 0) {
        _fd = ::open(_name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (_fd < 0) {
            if (error)
                *error = FileManagerExtras::systemError(errno);
            return {};
        }
    }
    return kDescriptorFolder + QString::number(_fd);
}

QString NativeFile::displayPath(const QString& path)
{
    if (!path.startsWith(kDescriptorFolder))
        return path;
    char target[PATH_MAX];
    const ssize_t size = ::readlink(QFile::encodeName(path).constData(), target, sizeof(target));
    return size > 0 ? QFile::decodeName(QByteArray(target, int(size))) : path;
}

QByteArray NativeFile::absoluteName(const QByteArray& name)
{
    if (name.startsWith('/'))
        return name;
    char folder[PATH_MAX];
    if (!::getcwd(folder, sizeof(folder)))
        return name;
    QByteArray absolute(folder);
    if (!absolute.endsWith('/'))
        absolute += '/';
    return absolute + name;
}
