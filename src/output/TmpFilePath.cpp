#include "TmpFilePath.h"

#include "foundation/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QMutex folderMutex;
QString folderInUse; // guarded by folderMutex; empty until the first temporary path

QString processName()
{
    QString name = QCoreApplication::applicationName();
    if (name.isEmpty())
        name = QString::fromLocal8Bit(program_invocation_short_name);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return name;
}

bool isPrivateFolderNative(const QByteArray& path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// The process folder when it is ours or could be made; otherwise a fresh folder from
// mkdtemp beside it. Called with folderMutex held.
QString makeFolderLocked()
{
    QString wanted = TmpFilePath::processFolderPath();
    const QByteArray native = QFile::encodeName(wanted);
    if (::mkdir(native.constData(), 0700) == 0) {
        // The umask may have taken bits away; the owner needs all three.
        ::chmod(native.constData(), 0700);
        if (isPrivateFolderNative(native))
            return wanted;
    } else if (errno == EEXIST && isPrivateFolderNative(native)) {
        // Left by an earlier process of ours with the same identifier.
        return wanted;
    }

    // Something else sits there (a symlink, a file, another user's folder, a folder others
    // may write into) or the folder could not be made: never write into it.
    QByteArray pattern = native + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        qCWarning(lcVelluma, "No folder for temporary files could be made beside %s: %s",
                  native.constData(), std::strerror(errno));
        return QString();
    }
    if (isPrivateFolderNative(pattern))
        return QFile::decodeName(pattern);
    qCWarning(lcVelluma, "The new temporary folder %s is not private", pattern.constData());
    return QString();
}

} // namespace

namespace TmpFilePath {

QString fileExtensionForFormat(FileFormat format)
{
    switch (format) {
    case FileFormat::Jpeg:
        return QStringLiteral("jpg");
    case FileFormat::Png:
        return QStringLiteral("png");
    case FileFormat::Tiff:
        return QStringLiteral("tiff");
    case FileFormat::WebP:
        return QStringLiteral("webp");
    case FileFormat::Avif:
        return QStringLiteral("avif");
    default:
        return QString();
    }
}

QString processFolderPath()
{
    // Qt gives an empty path when TMPDIR names a folder that does not exist; that must not
    // turn into a folder at the file system's root.
    QString base = QDir::tempPath();
    if (base.isEmpty())
        base = QStringLiteral("/tmp");
    return base + QLatin1Char('/') + processName() +
           QString::number(QCoreApplication::applicationPid());
}

QString tmpFolder()
{
    QMutexLocker lock(&folderMutex);
    // Checked again on every use: the folder may have been removed or swapped meanwhile.
    if (folderInUse.isEmpty() || !isPrivateFolderNative(QFile::encodeName(folderInUse)))
        folderInUse = makeFolderLocked();
    return folderInUse;
}

bool isPrivateFolder(const QString& path)
{
    return isPrivateFolderNative(QFile::encodeName(path));
}

QString bareName(const QString& name)
{
    QString bare = name;
    bare.replace(QLatin1Char('/'), QLatin1Char('_'));
    bare.replace(QChar(0), QLatin1Char('_'));
    if (bare == QLatin1String(".") || bare == QLatin1String(".."))
        bare.fill(QLatin1Char('_'));
    constexpr qsizetype maxBytes = 200;
    // Every character takes at least one byte, so the first cut only makes the loop short.
    bare.truncate(maxBytes);
    while (bare.toUtf8().size() > maxBytes)
        bare.chop(bare.back().isLowSurrogate() ? 2 : 1);
    return bare;
}

QString tmpPathForFormat(const QString& name, FileFormat format)
{
    if (QDir::isAbsolutePath(name))
        return name;
    const QString folder = tmpFolder();
    // Falling back to the process folder's path could write through a planted link.
    if (folder.isEmpty())
        return QString();
    QString fileName = name;
    fileName.replace(QLatin1Char('/'), QLatin1Char('_'));
    return folder + QLatin1Char('/') + fileName + QLatin1Char('.') + fileExtensionForFormat(format);
}

void removeTmpFiles()
{
    QMutexLocker lock(&folderMutex);
    QString folder = folderInUse;
    folderInUse.clear();
    if (folder.isEmpty())
        folder = processFolderPath();
    // Only a real folder of ours; removeRecursively deletes symlinks inside it without
    // following them.
    if (isPrivateFolderNative(QFile::encodeName(folder)) && !QDir(folder).removeRecursively())
        qCWarning(lcVelluma, "The temporary folder %s could not be removed entirely",
                  qUtf8Printable(folder));
}

} // namespace TmpFilePath
