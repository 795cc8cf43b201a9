#pragma once

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

class BackgroundRunner;
class BatchSheet;
class CompanionController;
class Document;
class MainInterface;
class OutputController;
class OutputPanel;
class OutputSettings;
class PreferenceController;
class PreviewView;
class QColorDialog;
class QDockWidget;
class UserDefaults;

// The program's controller: it carries the document (see Document, drawn by the preview)
// through opening, framing and colouring, runs the document's commands, and wires the
// window to the features that run the others (output, companions, send-to, frames).
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

    // The frame and its post mask, read again and mirrored when the document's frame is.
    void setBorderPath(const QString& path); // empty: no frame
    QString borderPath() const;
    void setFlipHorizontal(bool flip);
    bool shouldFlipHorizontal() const;

    const ImageMetadata& imageMetadata() const;
    // The colour dialog's choice: the frame colour, and the transparent background off.
    void setColor(const QColor& color);

    Document* document() const { return _document; }
    MainInterface* interface() const { return _interface; }
    OutputController* output() const { return _output; }
    CompanionController* companions() const { return _companions; }
    ZTWindow* mainWindow() const;
    PreviewView* previewView() const;
    OutputPanel* outputPanel() const;
    OutputSettings* outputSettings() const { return _settings; }

    // Removes the temporary files; called once when the program ends.
    void applicationShouldTerminate();

signals:
    // A photo file became the document (enable the drag-out proxy) or was closed.
    void documentFileChanged(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void _registerDefaults();
    void _makeCommands();
    void _connectInterface();
    void _validateCommands();
    void _openImage(const QImage& photo, const ImageMetadata& metadata, const QString& path);
    void _setFrame(const QString& path, bool flip);
    bool isBusy() const;
    void updateFilesizeForFile(const QString& path);
    void setDimension(double width, double height);
    QColorDialog* colorPanel() const;
    QDockWidget* drawer() const;

    void openDocument();
    // Asks for the photos, then frames them as a set.
    void frameSeveralPhotos();
    void closeImage();
    void flipHorizontal();
    void showColorPanel();
    void showPreferencePanel();

    UserDefaults& _defaults;
    Document* _document = nullptr;
    OutputSettings* _settings = nullptr;
    MainInterface* _interface = nullptr;
    BackgroundRunner* _runner = nullptr;
    std::unique_ptr<ExportRenderer> _exporter;
    OutputController* _output = nullptr;
    CompanionController* _companions = nullptr;
    PreferenceController* _preferenceController = nullptr;
    QPointer<BatchSheet> _batchSheet;

    bool _terminated = false;
};
