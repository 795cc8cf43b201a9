#include "MediaBrowser.h"

#include "foundation/FileManagerExtras.h"
#include "foundation/Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace {

constexpr int kExitWaitMs = 5000;
constexpr qint64 kMaxTemplateSize = 64 * 1024;

QString& bundleOverride()
{
    static QString path;
    return path;
}

QString& applicationOverride()
{
    static QString path;
    return path;
}

// Copies the folder tree with its permissions (the executable must stay executable).
// Symbolic links inside are not followed: a bundle has none of its own.
bool copyTree(const QString& from, const QString& to, QString* error)
{
    if (!QDir().mkpath(to)) {
        *error = QCoreApplication::translate("MediaBrowser", "cannot create %1").arg(to);
        return false;
    }
    QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(info.filePath());
        if (info.isSymLink())
            continue;
        if (info.isDir()) {
            if (!QDir().mkpath(target)) {
                *error =
                    QCoreApplication::translate("MediaBrowser", "cannot create %1").arg(target);
                return false;
            }
            continue;
        }
        QFile file(info.filePath());
        if (!file.copy(target) || !QFile::setPermissions(target, info.permissions())) {
            *error = file.errorString();
            return false;
        }
    }
    return true;
}

} // namespace

std::unique_ptr<MediaBrowser> MediaBrowser::initWithAppSupportPath(const QString& supportPath,
                                                                   const QString& windowTitle,
                                                                   QString* error)
{
    std::unique_ptr<MediaBrowser> browser(new MediaBrowser);
    QString reason;
    if (!browser->installMediaBrowserAtPath(supportPath, windowTitle, &reason)) {
        if (error)
            *error = reason;
        return nullptr;
    }
    return browser;
}

MediaBrowser::~MediaBrowser()
{
    close();
}

bool MediaBrowser::installMediaBrowserAtPath(const QString& supportPath, const QString& windowTitle,
                                             QString* error)
{
    if (!copyMediaBrowserToPath(supportPath, error))
        return false;
    // Without the document the browser would not know whom to hand a photo, so a missing
    // template fails the installation rather than leaving a browser that cannot pick.
    const QString workflow = workflowWithWindowTitle(windowTitle, error);
    if (workflow.isNull())
        return false;
    return FileManagerExtras::writeFileAtomically(_appPath + QLatin1Char('/') + WorkflowPath,
                                                  workflow.toUtf8(), error);
}

bool MediaBrowser::createSupportDirectoryAtPath(const QString& supportPath)
{
    return FileManagerExtras::createDirectoryAtPath(
        supportPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner,
        true);
}

bool MediaBrowser::copyMediaBrowserToPath(const QString& supportPath, QString* error)
{
    // The copy below decides: an existing folder that only refused the creation will do.
    createSupportDirectoryAtPath(supportPath);
    const QString installed = QDir(supportPath).filePath(BundleName);
    if (FileManagerExtras::isDirectory(installed)) {
        _appPath = installed;
        return true;
    }
    _appPath.clear();
    const QString source = resourceBundlePath();
    if (source.isEmpty()) {
        *error = QCoreApplication::translate("MediaBrowser", "the photo browser is missing");
        return false;
    }
    // Copied beside its place and renamed into it, so that a copy broken off half-way never
    // stands as an installed bundle that would then be kept for good.
    const QString partial =
        QDir(supportPath).filePath(QStringLiteral(".%1.partial").arg(BundleName));
    QDir(partial).removeRecursively();
    if (!copyTree(source, partial, error) || !QDir().rename(partial, installed)) {
        if (error->isEmpty())
            *error = QCoreApplication::translate("MediaBrowser", "cannot write into %1")
                         .arg(supportPath);
        QDir(partial).removeRecursively();
        return false;
    }
    _appPath = installed;
    return true;
}

QString MediaBrowser::workflowWithWindowTitle(const QString& windowTitle, QString* error)
{
    QFile file(Resources::pathFor(TemplateName));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxTemplateSize) {
        *error = QCoreApplication::translate("MediaBrowser", "cannot read %1: %2")
                     .arg(file.fileName(), file.errorString());
        return QString();
    }
    QString text = QString::fromUtf8(file.readAll());
    text.replace(QStringLiteral("ZT_APPLICATION_PATH"), applicationPath());
    text.replace(QStringLiteral("ZT_WINDOW_TITLE"), windowTitle);
    return text;
}

bool MediaBrowser::open(QString* error)
{
    close();
    _task = new QProcess(this);
    // The browser's messages go where Velluma's go; nothing piles up in a pipe.
    _task->setProcessChannelMode(QProcess::ForwardedChannels);
    QProcess* task = _task;
    connect(task, &QProcess::finished, this, [this, task] {
        if (_task == task)
            taskExited();
    });
    task->start(QDir(_appPath).filePath(ExecutablePath), QStringList());
    if (!task->waitForStarted()) {
        if (error)
            *error = task->errorString();
        delete task;
        _task = nullptr;
        return false;
    }
    return true;
}

void MediaBrowser::close()
{
    if (!_task)
        return;
    QProcess* task = _task;
    _task = nullptr;
    task->disconnect(this);
    if (task->state() != QProcess::NotRunning) {
        task->terminate();
        // A browser that ignores the request is not allowed to hold Velluma up.
        if (!task->waitForFinished(kExitWaitMs)) {
            task->kill();
            task->waitForFinished(kExitWaitMs);
        }
    }
    delete task;
}

bool MediaBrowser::isOpen() const
{
    return _task && _task->state() == QProcess::Running;
}

void MediaBrowser::taskExited()
{
    _task->deleteLater();
    _task = nullptr;
}

QString MediaBrowser::resourceBundlePath()
{
    if (!bundleOverride().isEmpty())
        return bundleOverride();
    if (!QCoreApplication::instance())
        return QString();
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {dir + QLatin1Char('/') + BundleName,
                                     dir + QStringLiteral("/../libexec/velluma/") + BundleName}) {
        if (QFileInfo(candidate + QLatin1Char('/') + ExecutablePath).isExecutable())
            return QDir::cleanPath(candidate);
    }
    return QString();
}

QString MediaBrowser::applicationPath()
{
    if (!applicationOverride().isEmpty())
        return applicationOverride();
    return QCoreApplication::applicationFilePath();
}

void MediaBrowser::setResourceBundleOverride(const QString& bundle)
{
    bundleOverride() = bundle;
}

void MediaBrowser::setApplicationPathOverride(const QString& program)
{
    applicationOverride() = program;
}
