#include "OutputFile.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t processUmask = 022;

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

namespace OutputFile {

void captureUmask()
{
    processUmask = ::umask(022);
    ::umask(processUmask);
}

Result place(const QString& path, const QByteArray& data, bool replace, QString* error)
{
    const QFileInfo info(path);
    QTemporaryFile tmp(info.absolutePath() + QStringLiteral("/.velluma-frame-XXXXXX"));
    if (!tmp.open()) {
        if (error)
            *error = tmp.errorString();
        return Result::Failed;
    }
    const int fd = tmp.handle();
    if (tmp.write(data) != data.size() || !tmp.flush() || ::fsync(fd) != 0 ||
        ::fchmod(fd, 0666 & ~processUmask) != 0) {
        if (error)
            *error = tmp.errorString();
        return Result::Failed;
    }
    tmp.close();
    const QByteArray from = QFile::encodeName(tmp.fileName());
    const QByteArray to = QFile::encodeName(info.absoluteFilePath());

    if (replace) {
        if (::rename(from.constData(), to.constData()) != 0) {
            if (error)
                *error = systemError(errno);
            return Result::Failed;
        }
        tmp.setAutoRemove(false);
        return Result::Written;
    }

    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
        tmp.setAutoRemove(false);
        return Result::Written;
    }
    if (errno == EEXIST)
        return Result::Exists;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        if (error)
            *error = systemError(errno);
        return Result::Failed;
    }
    // File systems without the no-replace move: a hard link fails on an existing name just
    // the same; the temporary name is removed with tmp.
    if (::link(from.constData(), to.constData()) == 0)
        return Result::Written;
    if (errno == EEXIST)
        return Result::Exists;
    if (error)
        *error = systemError(errno);
    return Result::Failed;
}

} // namespace OutputFile
