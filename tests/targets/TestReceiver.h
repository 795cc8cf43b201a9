#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>

// A program that receives photos: a shell script that copies its first argument into a
// folder, started directly, through a desktop entry in the user's data folder, or as the
// AppRun of an ".app" folder.
struct TestReceiver {
    QString inbox;   // where received files land
    QString script;  // the executable
    QString entry;   // a desktop entry whose Exec runs the script with %f
    QString package; // an ".app" folder whose AppRun is the script

    static bool writeFile(const QString& path, const QByteArray& text, bool executable)
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            return false;
        file.close();
        return !executable || file.setPermissions(file.permissions() | QFile::ExeOwner);
    }

    // Made inside folder; the desktop entry goes to the data folder's "applications", where
    // the desktop's own list of photo applications finds it through the type index that
    // update-desktop-database would write.
    bool make(const QString& folder)
    {
        inbox = folder + QStringLiteral("/inbox");
        script = folder + QStringLiteral("/receive.sh");
        package = folder + QStringLiteral("/Receiver.app");
        const QString applications =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/applications");
        entry = applications + QStringLiteral("/velluma-test-receiver.desktop");
        const QByteArray copy = "#!/bin/sh\ncp \"$1\" \"" + QFile::encodeName(inbox) + "/\"\n";
        return QDir().mkpath(inbox) && QDir().mkpath(applications) && QDir().mkpath(package) &&
               writeFile(script, copy, true) &&
               writeFile(package + QStringLiteral("/AppRun"), copy, true) &&
               writeFile(entry,
                         "[Desktop Entry]\nType=Application\nName=Test Receiver\nExec=" +
                             QFile::encodeName(script) +
                             " %f\nMimeType=image/jpeg;image/png;\nTerminal=false\n",
                         false) &&
               writeFile(applications + QStringLiteral("/mimeinfo.cache"),
                         "[MIME Cache]\nimage/jpeg=velluma-test-receiver.desktop;\n", false);
    }

    QString received(const QString& sent) const { return inbox + "/" + QFileInfo(sent).fileName(); }
};
