#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QProcess;

// Keeps the photo browser installed in the support folder and runs it as a child process.
// The bundle is copied once and never replaced; its workflow document (window title and
// the program that picked photos go to) is written afresh at every installation, so it
// follows Velluma wherever it moved.
class MediaBrowser : public QObject {
    Q_OBJECT
public:
    static inline const QString BundleName = QStringLiteral("MediaBrowser.app");
    static inline const QString ExecutablePath = QStringLiteral("Contents/MacOS/vOdavuRevadiz");
    static inline const QString WorkflowPath = QStringLiteral("Contents/document.wflow");
    static inline const QString TemplateName = QStringLiteral("document_wflow_template");

    // Installs the browser under supportPath; null (the reason in *error) when it cannot be
    // installed.
    static std::unique_ptr<MediaBrowser> initWithAppSupportPath(const QString& supportPath,
                                                                const QString& windowTitle,
                                                                QString* error = nullptr);
    // Ends a running browser and waits for it.
    ~MediaBrowser() override;

    // Starts the browser, ending the one that runs first. False (the reason in *error) when
    // the process cannot be started.
    bool open(QString* error = nullptr);
    // Ends the browser if one was started, and waits for it.
    void close();
    bool isOpen() const;

    // The installed bundle.
    QString appPath() const { return _appPath; }

    // The bundle that gets installed: built beside the velluma program, installed under
    // <prefix>/libexec/velluma. Empty when there is none.
    static QString resourceBundlePath();
    // The program the browser hands picked photos to: this one.
    static QString applicationPath();
    // Tests install a bundle and name a program of their own; empty restores the default.
    static void setResourceBundleOverride(const QString& bundle);
    static void setApplicationPathOverride(const QString& program);

private:
    MediaBrowser() = default;
    bool installMediaBrowserAtPath(const QString& supportPath, const QString& windowTitle,
                                   QString* error);
    bool copyMediaBrowserToPath(const QString& supportPath, QString* error);
    static QString workflowWithWindowTitle(const QString& windowTitle, QString* error);
    static bool createSupportDirectoryAtPath(const QString& supportPath);
    void taskExited();

    QString _appPath;
    QProcess* _task = nullptr;
};
