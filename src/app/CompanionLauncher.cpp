#include "CompanionLauncher.h"

#include "foundation/Logging.h"
#include "targets/ApplicationLauncher.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

// GLib names a structure member "signals", which Qt defines as a keyword.
#undef signals
#include <gio/gdesktopappinfo.h>
#define signals Q_SIGNALS

namespace {

// The entries of a folder named fileName in any case, the exact spelling first.
QStringList entriesNamed(const QString& folder, const QString& fileName)
{
    if (folder.isEmpty() || fileName.isEmpty())
        return {};
    QStringList exact;
    QStringList other;
    const QDir dir(folder);
    const QStringList names =
        dir.entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QString& name : names) {
        if (name == fileName)
            exact << dir.filePath(name);
        else if (name.compare(fileName, Qt::CaseInsensitive) == 0)
            other << dir.filePath(name);
    }
    return exact + other;
}

bool isProgram(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

void addPrograms(QList<CompanionLauncher::Candidate>& list, const QStringList& paths)
{
    for (const QString& path : paths) {
        if (isProgram(path))
            list.append({CompanionLauncher::Kind::Executable, path});
    }
}

// A folder of applications holds the program itself, its AppImage, or a bundle
// "<name>.app" with the program in Contents/MacOS.
void addApplicationsFolder(QList<CompanionLauncher::Candidate>& list, const QString& folder,
                           const QString& name)
{
    addPrograms(list, entriesNamed(folder, name));
    addPrograms(list, entriesNamed(folder, name + QStringLiteral(".AppImage")));
    for (const QString& bundle : entriesNamed(folder, name + QStringLiteral(".app"))) {
        if (QFileInfo(bundle).isDir())
            addPrograms(list, entriesNamed(bundle + QStringLiteral("/Contents/MacOS"), name));
    }
}

} // namespace

CompanionLauncher::Environment CompanionLauncher::Environment::system()
{
    Environment environment;
    environment.home = QDir::homePath();
    environment.applicationFolders =
        QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    environment.pathFolders = ApplicationLauncher::searchFolders(qEnvironmentVariable("PATH"));
    environment.systemApplications = QStringLiteral("/Applications");
    return environment;
}

CompanionLauncher::Environment CompanionLauncher::environment() const
{
    return _environment ? *_environment : Environment::system();
}

QList<CompanionLauncher::Candidate> CompanionLauncher::candidates(const QString& name,
                                                                  const Environment& environment)
{
    QList<Candidate> list;
    // A name is one file name, never a path that reaches elsewhere.
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
        return list;
    // Sandboxed packages name their entries in reverse-domain form ("com.maker.Trimlet").
    const QString entryName = name + QStringLiteral(".desktop");
    const QString qualifiedEnd = QLatin1Char('.') + entryName;
    for (const QString& folder : environment.applicationFolders) {
        QStringList paths = entriesNamed(folder, entryName);
        const QDir dir(folder);
        for (const QString& file : dir.entryList(QDir::Files, QDir::Name)) {
            if (file.endsWith(qualifiedEnd, Qt::CaseInsensitive))
                paths << dir.filePath(file);
        }
        for (const QString& path : paths) {
            if (QFileInfo(path).isFile())
                list.append({Kind::DesktopEntry, path});
        }
    }
    for (const QString& folder : environment.pathFolders)
        addPrograms(list, entriesNamed(folder, name));
    if (!environment.home.isEmpty())
        addApplicationsFolder(list, environment.home + QStringLiteral("/Applications"), name);
    addApplicationsFolder(list, environment.systemApplications, name);
    return list;
}

bool CompanionLauncher::launchApplication(const QString& name, const QStringList& files,
                                          QString* launched) const
{
    for (const Candidate& candidate : candidates(name, environment())) {
        if (launch(candidate, files)) {
            if (launched)
                *launched = candidate.path;
            return true;
        }
    }
    return false;
}

bool CompanionLauncher::launch(const Candidate& candidate, const QStringList& files)
{
    if (candidate.kind == Kind::Executable) {
        if (QProcess::startDetached(candidate.path, files, QDir::homePath()))
            return true;
        qCWarning(lcVelluma) << "program" << candidate.path << "did not start";
        return false;
    }

    // The desktop's own rules for the entry: field codes, Terminal=, TryExec, Hidden and
    // D-Bus activation.
    GDesktopAppInfo* info =
        g_desktop_app_info_new_from_filename(QFile::encodeName(candidate.path).constData());
    if (!info) {
        qCWarning(lcVelluma) << "desktop entry" << candidate.path << "cannot be used";
        return false;
    }
    GList* gfiles = nullptr;
    for (const QString& file : files)
        gfiles = g_list_append(gfiles, g_file_new_for_path(QFile::encodeName(file).constData()));
    GError* error = nullptr;
    const bool started = g_app_info_launch(G_APP_INFO(info), gfiles, nullptr, &error);
    if (error) {
        qCWarning(lcVelluma) << "desktop entry" << candidate.path
                             << "did not start:" << error->message;
        g_error_free(error);
    }
    g_list_free_full(gfiles, g_object_unref);
    g_object_unref(info);
    return started;
}
