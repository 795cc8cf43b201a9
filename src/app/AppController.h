#pragma once

#include "app/CompanionLauncher.h"
#include "compositing/ExportRenderer.h"
#include "output/ImageMetadata.h"
#include "ui/ZTWindow.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class AboutWindow;
class BackgroundRunner;
class BatchSheet;
class CompanionPanel;
class MainInterface;
class MediaBrowser;
class OutputPanel;
class OutputSettings;
class PreferenceController;
class PreviewView;
class QColorDialog;
class QDockWidget;
class QToolBar;
class SUUpdater;
class ThumbnailController;
class UserDefaults;

// The one controller of the program: it carries the document (held by the preview as one
// value, see FramedPhoto) through opening, framing, colouring and writing, and runs the
// commands of the window that MainInterface builds.
class AppController : public QObject {
    Q_OBJECT
public:
    // Registers the factory defaults and builds the main window with the preview, the
    // output controls and the frame panel (shown 0.2 s later). The window is not shown.
    explicit AppController(UserDefaults& defaults, QObject* parent = nullptr);
    ~AppController() override;

    // Counts the launch, runs the silent update check when the user wants it and, from the
    // seventh launch on, the share prompt a second later.
    void applicationDidFinishLaunching();

    // The one way a file becomes the document: the open dialog, program arguments, a
    // second launch and drops on the preview all come here. False (after telling the user)
    // when the file is no image; the previous document then stays as it was.
    bool applicationOpenFile(const QString& path);
    // The same for a name as the file system holds it (program arguments, a second
    // launch): bytes that are no UTF-8 still reach the file.
    bool applicationOpenNativeFile(const QByteArray& name);
    // Files from a second launch or the desktop: one is opened, several are framed as a set.
    void openFiles(const QList<QByteArray>& names);
    // The sheet that frames these photos (names as the file system holds them) with the
    // document's frame and output choices.
    void frameSeveral(const QList<QByteArray>& names);
    BatchSheet* batchSheet() const;

    void setFilename(const QString& path); // null: no file
    QString filename() const;              // the name field's text: the output name
    void setDimension(double width, double height);
    void updateFilesizeForFile(const QString& path); // null: empty display
    // "-", "%d bytes", "%0.2f KB" or "%0.2f MB".
    static QString _stringForFilesize(qint64 size);

    // The frame and its post mask, read again and mirrored when the document's frame is.
    void setBorderPath(const QString& path); // empty: no frame
    QString borderPath() const;
    void setFlipHorizontal(bool flip);
    bool shouldFlipHorizontal() const;

    const ImageMetadata& imageMetadata() const;

    // Full-resolution output of the document on the worker thread, the window painting
    // meanwhile. The path written (a bare name goes to the temporary folder), or empty with
    // the reason in *error.
    QString writeImageToFile(const QString& nameOrPath, FileFormat format, int quality,
                             QString* error = nullptr);
    // The document under its output name in the current format, in the temporary folder.
    QString writeTmpFile(QString* error = nullptr);
    ExportRenderer& exportRenderer() const { return *_exporter; }
    // How the output settings say to write (the current format and quality by default).
    ExportRenderer::Options exportOptions(std::optional<FileFormat> format = std::nullopt,
                                          int quality = -1) const;
    bool isBusy() const;

    // The frame colour last chosen in the colour dialog (white until one is chosen).
    QColor chosenColor() const { return _chosenColor; }

    MainInterface* interface() const { return _interface; }
    ZTWindow* mainWindow() const;
    PreviewView* previewView() const;
    OutputSettings* outputSettings() const { return _settings; }
    OutputPanel* outputPanel() const;
    ThumbnailController* thumbnailController() const;
    QDockWidget* drawer() const;
    QColorDialog* colorPanel() const;
    QToolBar* toolBar() const;
    UserDefaults& userDefaults() const { return _defaults; }
    SUUpdater* updater() const { return _updater; }
    CompanionLauncher& companionLauncher() { return _companionLauncher; }
    // The panel shown when the companion of that name cannot be started; made on first use.
    CompanionPanel* companionPanel(const QString& name);

    // Starts the companion with the file; false when it was found nowhere.
    bool _launchApplication(const QString& name, const QString& file);

public slots:
    void openDocument();
    // Asks for the photos, then frames them as a set.
    void frameSeveralPhotos();
    void closeImage();
    void flipHorizontal();
    // The colour dialog's choice: the frame colour, and the transparent background off.
    void setColor(const QColor& color);
    void showColorPanel();
    void toggleDrawer();
    void refreshThumbnails();
    void showPreferencePanel();
    void preferenceDidChange();
    void saveDocumentAs();
    void saveDocumentInFolder(const QString& folder);
    void copy();
    // Hand the framed photo to a companion: Trimlet always gets a TIFF file, Shuttlebox one
    // in the output format. A companion that cannot be started offers its download.
    void sendToTrimlet();
    void sendToShuttlebox();
    void runCustomizationPalette();
    // The clipboard's picture in the current frame, under the open photo's name and
    // metadata; a beep when the clipboard holds none.
    void paste();
    void zoom();
    void quit();
    // The about window, made on first use; the web links open in the desktop's programs.
    void showAboutWindow();
    // Installs the photo browser on first use and (re)starts it; says so when it cannot.
    void openPhotoBrowser();
    // Web and mail addresses only (WebLinks); false, after telling the user, otherwise.
    bool openURL(const QString& address);
    void visitWebsite();
    void sendMail();
    // The maker's product of that number (WebLinks::Product) from the web site.
    void download(int product);
    void downloadTrimlet();
    void downloadShuttlebox();
    // The update check the user asked for: it also says when there is nothing newer.
    void checkForUpdates();
    // Asks the user to tell others about the program, unless they answered for good or
    // another sheet is up.
    void runShareOnFacebookSheet();
    // Removes the temporary files; called once when the program ends.
    void applicationShouldTerminate();

signals:
    // The photo browser's menu item; the browser answers it.
    void photoBrowserRequested();
    // A photo file became the document (enable the drag-out proxy) or was closed.
    void documentFileChanged(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void _registerDefaults();
    void _connectInterface();
    void _validateCommands();
    void _openImage(const QImage& photo, const ImageMetadata& metadata, const QString& path);
    void _setFrame(const QString& path, bool flip);
    QString _tmpName() const;
    void _sendToCompanion(const QString& name);
    void _checkForUpdatesSilently();
    void _linkFailed(const QString& why);
    // "Saved at quality N to stay under L KB" where the size limit lowered the quality.
    void _noteQuality(const ExportRenderer::Options& options, int used);

    UserDefaults& _defaults;
    OutputSettings* _settings = nullptr;
    MainInterface* _interface = nullptr;
    BackgroundRunner* _runner = nullptr;
    std::unique_ptr<ExportRenderer> _exporter;
    PreferenceController* _preferenceController = nullptr;
    AboutWindow* _aboutWindow = nullptr;
    std::unique_ptr<MediaBrowser> _mediaBrowser;
    SUUpdater* _updater = nullptr;
    CompanionLauncher _companionLauncher;
    QPointer<CompanionPanel> _trimletPanel;
    QPointer<CompanionPanel> _shuttleboxPanel;
    QPointer<BatchSheet> _batchSheet;

    QString _documentFolder; // where the photo came from: the first save starts there
    QString _documentPath;   // the open photo's file, never replaced without a clear question
    QColor _chosenColor = Qt::white;
    bool _terminated = false;
};
