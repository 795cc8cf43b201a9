#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Applications as the desktop knows them. Desktop entries are read and launched through
// GLib's desktop application info, so field codes, Terminal=, TryExec= and D-Bus
// activation behave as in the desktop's own "Open With". A plain executable gets the file
// as its one argument (no shell); a folder ending in ".app" runs its AppRun or
// Contents/MacOS program the same way.
namespace ApplicationLauncher {

struct Entry {
    QString path;     // the desktop entry file
    QString name;     // its Name, in the user's language
    QString iconName; // a theme icon name or an icon file, empty when none
};

// The path names a desktop entry file (by its ".desktop" suffix).
bool isDesktopEntryPath(const QString& path);
// GLib reads it as an application entry whose TryExec program exists.
bool isLaunchableEntry(const QString& path);
// The entry's Name and Icon; empty when it cannot be read.
QString entryName(const QString& path);
QString entryIconName(const QString& path);

// The applications that open files of that type, the desktop's recommended ones first,
// each once; entries the desktop hides are left out.
QList<Entry> applicationsForType(const QString& mimeType);

// The program inside a ".app" folder: AppRun, else Contents/MacOS/<name without .app>.
// Empty when it has none that is executable.
QString packageExecutable(const QString& package);

// The folders of PATH that a program name is looked up in: the absolute ones only, in
// their order. An empty entry or "." would mean the folder Velluma was started from.
QStringList searchFolders(const QString& path);
// The executable of that name in searchFolders of the PATH; empty when none.
QString findProgram(const QString& name);

// Opens the file with the application: a desktop entry path, an ".app" folder, an
// executable, or a bare name looked up as a desktop entry id and then in PATH. False with
// the reason in *error when the application is missing or could not be started.
bool openFile(const QString& file, const QString& application, QString* error = nullptr);

} // namespace ApplicationLauncher
