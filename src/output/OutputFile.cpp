#include "OutputFile.h"

#include "foundation/FileManagerExtras.h"
#include "foundation/NativeFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSysInfo>
#include <QTemporaryFile>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t processUmask = 022;

const QLatin1String kHiddenPrefix(".velluma-frame-");

using FileManagerExtras::systemError;

// Names of the hidden files being written, readable from a signal handler.
struct PendingSlot {
    std::atomic<bool> used{false};
    char path[4096];
};
constexpr int kPendingSlots = 256;
PendingSlot pending[kPendingSlots];
QMutex pendingMutex;

extern "C" void removePendingAndEnd(int signal)
{
    for (PendingSlot& slot : pending) {
        if (slot.used.load())
            ::unlink(slot.path);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Registers the name for the life of the object.
class PendingFile {
public:
    explicit PendingFile(const QByteArray& path)
    {
        if (path.size() >= int(sizeof(pending[0].path)))
            return;
        QMutexLocker lock(&pendingMutex);
        for (int i = 0; i < kPendingSlots; ++i) {
            if (!pending[i].used.load()) {
                std::memcpy(pending[i].path, path.constData(), size_t(path.size()) + 1);
                pending[i].used.store(true);
                _slot = i;
                return;
            }
        }
    }
    ~PendingFile()
    {
        if (_slot >= 0)
            pending[_slot].used.store(false);
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

private:
    int _slot = -1;
};

// This machine in a hidden file's name: letters and digits of its host name only, so the
// name splits at its dashes.
QString hostTag()
{
    static const QString tag = [] {
        QString name;
        for (const QChar c : QSysInfo::machineHostName()) {
            if (c.isLetterOrNumber() && c.unicode() < 128)
                name += c;
        }
        return name.isEmpty() ? QStringLiteral("host") : name.left(40);
    }();
    return tag;
}

} // namespace

namespace OutputFile {

void installInterruptCleanup()
{
    struct sigaction action = {};
    action.sa_handler = removePendingAndEnd;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

void removeStale(const QString& folder)
{
    const QDateTime cutoff = QDateTime::currentDateTimeUtc().addSecs(-3600);
    const QFileInfoList entries =
        QDir(folder).entryInfoList({kHiddenPrefix + QLatin1Char('*')},
                                   QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QFileInfo& entry : entries) {
        // "<prefix><pid>-<host>-XXXXXX": a process of this machine that is gone leaves its
        // files to us at once. Another machine's (a folder shared between hosts) cannot be
        // asked: its files go after an hour. Names without the host ("<prefix><pid>-XXXXXX")
        // go after an hour too, and only when no process here has their id.
        const QStringList parts =
            entry.fileName().mid(kHiddenPrefix.size()).split(QLatin1Char('-'));
        bool hasPid = false;
        const qint64 pid = parts.size() >= 2 ? parts.first().toLongLong(&hasPid) : 0;
        const bool alive = hasPid && pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
        const bool fresh = entry.lastModified() > cutoff;
        if (parts.size() == 3 && parts.at(1) == hostTag() ? alive
            : parts.size() == 3                           ? fresh
                                                          : fresh || alive)
            continue;
        // One that cannot be removed stays as it was; the run itself is not affected.
        QFile::remove(entry.absoluteFilePath());
    }
}

void captureUmask()
{
    processUmask = ::umask(022);
    ::umask(processUmask);
}

Result place(const QByteArray& path, const QByteArray& data, bool replace, QString* error,
             const std::function<bool()>& stillWanted)
{
    const QByteArray to = NativeFile::absoluteName(path);
    const QString folder = QFile::decodeName(to.left(to.lastIndexOf('/')));
    // The process id in the name tells a later run whether the writer may still be alive.
    QTemporaryFile tmp(folder + QLatin1Char('/') + kHiddenPrefix + QString::number(::getpid()) +
                       QLatin1Char('-') + hostTag() + QStringLiteral("-XXXXXX"));
    if (!tmp.open()) {
        if (error)
            *error = tmp.errorString();
        return Result::Failed;
    }
    const PendingFile registered(QFile::encodeName(tmp.fileName()));
    const QString reason = FileManagerExtras::writeAndSync(tmp, data);
    if (!reason.isEmpty()) {
        if (error)
            *error = reason;
        return Result::Failed;
    }
    if (::fchmod(tmp.handle(), 0666 & ~processUmask) != 0) {
        if (error)
            *error = systemError(errno);
        return Result::Failed;
    }
    tmp.close();
    const QByteArray from = QFile::encodeName(tmp.fileName());
    if (stillWanted && !stillWanted()) {
        if (error)
            *error = QStringLiteral("cancelled");
        return Result::Failed;
    }

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
