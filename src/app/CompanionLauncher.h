#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Starts a companion program by its name, as the desktop would find it: a desktop entry of
// that name (also in reverse-domain form, "com.maker.Trimlet"), a program of that name on the PATH
// (any case), then the program, AppImage or application bundle of that name in ~/Applications and
// in /Applications. The files are handed to the program that started.
class CompanionLauncher {
public:
    // Where to look; the system's own unless a test sets another.
    struct Environment {
        QString home;
        QStringList applicationFolders; // desktop entries, the most important first
        QStringList pathFolders;
        QString systemApplications; // "/Applications"
        static Environment system();
    };

    enum class Kind { DesktopEntry, Executable };
    struct Candidate {
        Kind kind;
        QString path;
        bool operator==(const Candidate&) const = default;
    };

    // What launching a name tries, in order.
    static QList<Candidate> candidates(const QString& name, const Environment& environment);

    // Starts the first candidate that starts; false when none did. *launched names it.
    bool launchApplication(const QString& name, const QStringList& files,
                           QString* launched = nullptr) const;
    static bool launch(const Candidate& candidate, const QStringList& files);

    void setEnvironment(const Environment& environment) { _environment = environment; }
    Environment environment() const;

private:
    std::optional<Environment> _environment;
};
