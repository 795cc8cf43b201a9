#pragma once

#include "compositing/ExportRenderer.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class BackgroundRunner;
class Document;
class MainInterface;
class OutputSettings;
class QAction;
class QImage;
class UserDefaults;

// Getting the picture out: save (also into a destination folder), copy, paste and the
// temporary file the drag-out and the sends hand over. It runs the Save, Copy and Paste
// commands.
class OutputController : public QObject {
    Q_OBJECT
public:
    // The document's photo file and folder: the first save starts in the folder and asks
    // before it replaces the file.
    OutputController(UserDefaults& defaults, OutputSettings& settings, MainInterface& window,
                     BackgroundRunner& runner, ExportRenderer& exporter, Document& document,
                     QObject* parent = nullptr);

    QList<QAction*> commands() const { return _commands; }

    void saveDocumentAs();
    void saveDocumentInFolder(const QString& folder);
    void copy();
    // The clipboard's picture is handed to pictureToOpen; a beep when it holds none.
    void paste();

    // Full-resolution output of the document on the worker thread, the window painting
    // meanwhile. The path written (a bare name goes to the temporary folder), or empty with
    // the reason in *error.
    QString writeImageToFile(const QString& nameOrPath, FileFormat format, int quality,
                             QString* error = nullptr);
    // The document under its output name in the current format, in the temporary folder.
    QString writeTmpFile(QString* error = nullptr);
    // The output name as a bare name for the temporary folder.
    QString tmpName() const;
    ExportRenderer& exportRenderer() const { return _exporter; }
    bool isBusy() const;
    // How the output settings say to write (the current format and quality by default).
    ExportRenderer::Options exportOptions(std::optional<FileFormat> format = std::nullopt,
                                          int quality = -1) const;

    void updateFilesizeForFile(const QString& path); // null: empty display

signals:
    // A pasted picture to become the document, keeping the photo's name and metadata.
    void pictureToOpen(const QImage& picture);

private:
    // "-", "%d bytes", "%0.2f KB" or "%0.2f MB".
    static QString _stringForFilesize(qint64 size);
    // "Saved at quality N to stay under L KB" where the size limit lowered the quality.
    void _noteQuality(const ExportRenderer::Options& options, int used);

    UserDefaults& _defaults;
    OutputSettings& _settings;
    MainInterface& _window;
    BackgroundRunner& _runner;
    ExportRenderer& _exporter;
    Document& _document;
    QList<QAction*> _commands;
};
