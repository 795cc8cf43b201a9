#include "ApplicationLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>

// GLib's headers use "signals" as an identifier, which Qt defines as a keyword.
#undef signals
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <memory>

namespace ApplicationLauncher {

namespace {

template <typename T> struct GObjectDeleter {
    void operator()(T* object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template <typename T> using GObjectPtr = std::unique_ptr<T, GObjectDeleter<T>>;

QString tr(const char* text)
{
    return QCoreApplication::translate("ApplicationLauncher", text);
}

GObjectPtr<GDesktopAppInfo> loadEntry(const QString& path)
{
    if (!isDesktopEntryPath(path) || !QFileInfo(path).isFile())
        return nullptr;
    return GObjectPtr<GDesktopAppInfo>(
        g_desktop_app_info_new_from_filename(QFile::encodeName(path).constData()));
}

QString fromUtf8(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}

QString iconNameOf(GAppInfo* info)
{
    GIcon* icon = g_app_info_get_icon(info); // not ours to free
    if (!icon)
        return {};
    gchar* text = g_icon_to_string(icon);
    QString name = fromUtf8(text);
    g_free(text);
    return name;
}

bool launchEntry(GAppInfo* info, const QString& file, QString* error)
{
    GFile* gfile = g_file_new_for_path(QFile::encodeName(file).constData());
    GList files = {gfile, nullptr, nullptr};
    GError* gerror = nullptr;
    const bool launched = g_app_info_launch(info, &files, nullptr, &gerror);
    g_object_unref(gfile);
    if (!launched && error)
        *error = gerror ? QString::fromUtf8(gerror->message) : tr("The application did not start.");
    if (gerror)
        g_error_free(gerror);
    return launched;
}

bool launchExecutable(const QString& program, const QString& file, QString* error)
{
    if (QProcess::startDetached(program, {file}))
        return true;
    if (error)
        *error = tr("“%1” could not be started.").arg(QFileInfo(program).fileName());
    return false;
}

} // namespace

bool isDesktopEntryPath(const QString& path)
{
    return path.endsWith(QLatin1String(".desktop"), Qt::CaseInsensitive);
}

bool isLaunchableEntry(const QString& path)
{
    return loadEntry(path) != nullptr;
}

QString entryName(const QString& path)
{
    const auto info = loadEntry(path);
    return info ? fromUtf8(g_app_info_get_name(G_APP_INFO(info.get()))) : QString();
}

QString entryIconName(const QString& path)
{
    const auto info = loadEntry(path);
    return info ? iconNameOf(G_APP_INFO(info.get())) : QString();
}

QList<Entry> applicationsForType(const QString& mimeType)
{
    QList<Entry> entries;
    QSet<QString> seen;
    const QByteArray type = mimeType.toUtf8();
    gchar* contentType = g_content_type_from_mime_type(type.constData());
    const char* asked = contentType ? contentType : type.constData();
    // Recommended first, then whatever else says it can open the type.
    for (GList* list :
         {g_app_info_get_recommended_for_type(asked), g_app_info_get_all_for_type(asked)}) {
        for (GList* it = list; it; it = it->next) {
            auto* info = static_cast<GAppInfo*>(it->data);
            if (!G_IS_DESKTOP_APP_INFO(info) || !g_app_info_should_show(info))
                continue;
            const QString path =
                fromUtf8(g_desktop_app_info_get_filename(G_DESKTOP_APP_INFO(info)));
            if (path.isEmpty() || seen.contains(path))
                continue;
            seen.insert(path);
            entries.append({path, fromUtf8(g_app_info_get_name(info)), iconNameOf(info)});
        }
        g_list_free_full(list, g_object_unref);
    }
    g_free(contentType);
    return entries;
}

QString packageExecutable(const QString& package)
{
    const QDir dir(package);
    QString name = dir.dirName();
    name.chop(4); // ".app"
    for (const QString& candidate : {dir.filePath(QStringLiteral("AppRun")),
                                     dir.filePath(QStringLiteral("Contents/MacOS/") + name)}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return info.absoluteFilePath();
    }
    return {};
}

QStringList searchFolders(const QString& path)
{
    QStringList folders;
    for (const QString& folder : path.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(folder))
            folders << folder;
    }
    return folders;
}

QString findProgram(const QString& name)
{
    const QStringList folders = searchFolders(qEnvironmentVariable("PATH"));
    // Qt searches the whole PATH, relative entries too, when given no folders.
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || folders.isEmpty())
        return {};
    return QStandardPaths::findExecutable(name, folders);
}

bool openFile(const QString& file, const QString& application, QString* error)
{
    const QFileInfo app(application);
    if (isDesktopEntryPath(application) && app.isAbsolute()) {
        const auto info = loadEntry(application);
        if (!info) {
            if (error)
                *error =
                    app.exists()
                        ? tr("“%1” is no application the desktop can start.").arg(app.fileName())
                        : tr("“%1” no longer exists.").arg(application);
            return false;
        }
        return launchEntry(G_APP_INFO(info.get()), file, error);
    }
    if (app.isAbsolute()) {
        if (!app.exists()) {
            if (error)
                *error = tr("“%1” no longer exists.").arg(application);
            return false;
        }
        if (app.isDir() && application.endsWith(QLatin1String(".app"), Qt::CaseInsensitive)) {
            const QString program = packageExecutable(application);
            if (program.isEmpty()) {
                if (error)
                    *error = tr("“%1” holds no program to start.").arg(app.fileName());
                return false;
            }
            return launchExecutable(program, file, error);
        }
        if (app.isDir() || !app.isExecutable()) {
            if (error)
                *error = tr("“%1” is no application.").arg(app.fileName());
            return false;
        }
        return launchExecutable(app.absoluteFilePath(), file, error);
    }
    // A name: a desktop entry id first, as the desktop would look it up, then PATH.
    if (!application.isEmpty() && !application.contains(QLatin1Char('/'))) {
        const QString id = isDesktopEntryPath(application)
                               ? application
                               : application + QStringLiteral(".desktop");
        GObjectPtr<GDesktopAppInfo> info(g_desktop_app_info_new(id.toUtf8().constData()));
        if (info)
            return launchEntry(G_APP_INFO(info.get()), file, error);
        const QString program = findProgram(application);
        if (!program.isEmpty())
            return launchExecutable(program, file, error);
    }
    if (error)
        *error = tr("The application “%1” cannot be found.").arg(application);
    return false;
}

} // namespace ApplicationLauncher
