#pragma once

#include "output/ImageMetadata.h"
#include "ui/ZTWindow.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QString>
#include <QStringList>

class OutputPanel;
class OutputSettings;
class PreferenceController;
class PreviewView;
class QAction;
class QColorDialog;
class QDockWidget;
class QImage;
class QToolBar;
class ThumbnailController;
class UserDefaults;

// The one controller of the program. The document is not an object of its own: it is the
// photo in the preview, the chosen frame's path, the flip, the frame colour and the photo's
// metadata, held between this controller and the preview.
class AppController : public QObject {
    Q_OBJECT
public:
    // Registers the factory defaults and builds the main window with the preview, the
    // output controls and the frame panel (shown 0.2 s later). The window is not shown.
    explicit AppController(UserDefaults& defaults, QObject* parent = nullptr);
    ~AppController() override;

    // Counts the launch and asks for the silent update check when the user wants it.
    void applicationDidFinishLaunching();

    // The one way a file becomes the document: the open dialog, program arguments, a
    // second launch and drops on the preview all come here. False (after telling the user)
    // when the file is no image; the previous document then stays as it was.
    bool applicationOpenFile(const QString& path);
    // Several files at once (a second launch, the desktop): opened in turn.
    void openFiles(const QStringList& paths);

    void setFilename(const QString& path); // null: no file
    QString filename() const;              // the name field's text: the output name
    void setDimension(double width, double height);
    void updateFilesizeForFile(const QString& path); // null: empty display
    // "-", "%d bytes", "%0.2f KB" or "%0.2f MB".
    static QString _stringForFilesize(qint64 size);

    void setBorderPath(const QString& path); // empty: no frame
    QString borderPath() const { return _borderPath; }
    // The frame's companion "<frame without extension>_postmask.png", when it exists.
    static QString _postMaskPathForPath(const QString& framePath);
    static QImage _postMaskImageForPath(const QString& framePath);
    void setFlipHorizontal(bool flip) { _flipH = flip; }
    bool shouldFlipHorizontal() const { return _flipH; }

    const ImageMetadata& imageMetadata() const { return _imageMetadata; }
    void setImageMetadata(const ImageMetadata& metadata);

    // The frame colour last chosen in the colour dialog (white until one is chosen).
    QColor chosenColor() const { return _chosenColor; }

    ZTWindow* mainWindow() const { return _mainWindow; }
    PreviewView* previewView() const { return _previewView; }
    OutputSettings* outputSettings() const { return _settings; }
    OutputPanel* outputPanel() const { return _outputPanel; }
    ThumbnailController* thumbnailController() const { return _thumbnailController; }
    QDockWidget* drawer() const { return _drawer; }
    QColorDialog* colorPanel() const { return _colorPanel; }
    QToolBar* toolBar() const { return _toolBar; }
    UserDefaults& userDefaults() const { return _defaults; }

public slots:
    void openDocument();
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
    // Removes the temporary files; called once when the program ends.
    void applicationShouldTerminate();

signals:
    // For the companions' updater: the background check at launch, the one the user asked
    // for in the preferences.
    void checkForUpdatesInBackgroundRequested();
    void checkForUpdatesRequested();
    // From the seventh launch on, one second after launching.
    void shareOnFacebookPromptDue();
    // A photo file became the document (enable the drag-out proxy) or was closed.
    void documentFileChanged(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void _registerDefaults();
    void _buildWindow();
    void _buildActions();
    void _initToolbar();
    void _connectSettings();
    void _restoreGeometry();
    void _saveGeometry();
    void _validateCommands();
    void _busyChanged(bool busy);
    bool _isBusy() const;
    QImage _readPhoto(const QString& path);
    QImage _loadFrame(const QString& path) const;

    UserDefaults& _defaults;
    OutputSettings* _settings = nullptr;
    QPointer<ZTWindow> _mainWindow;
    QDockWidget* _drawer = nullptr;
    ThumbnailController* _thumbnailController = nullptr;
    PreviewView* _previewView = nullptr;
    OutputPanel* _outputPanel = nullptr;
    QToolBar* _toolBar = nullptr;
    QColorDialog* _colorPanel = nullptr;
    PreferenceController* _preferenceController = nullptr;

    QAction* _openAction = nullptr;
    QAction* _saveAction = nullptr;
    QAction* _copyAction = nullptr;
    QAction* _closeAction = nullptr;
    QAction* _flipAction = nullptr;
    QAction* _flipMenuAction = nullptr;
    QAction* _colorsAction = nullptr;
    QAction* _drawerAction = nullptr;
    QAction* _preferencesAction = nullptr;
    QAction* _quitAction = nullptr;

    QString _borderPath;
    QString _documentFolder; // where the photo came from: the save dialog starts there
    bool _flipH = false;
    ImageMetadata _imageMetadata;
    QColor _chosenColor = Qt::white;
    QStringList _pendingFiles; // handed over while an export was running
    bool _closeWhenIdle = false;
    bool _loading = false; // a photo is being read on a worker thread
    bool _terminated = false;
};
