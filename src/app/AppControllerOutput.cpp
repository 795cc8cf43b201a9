#include "AppController.h"

// Getting the picture out: save, copy, paste and the temporary files they write.

#include "app/MainInterface.h"
#include "app/OutputPanel.h"
#include "app/SavePanel.h"
#include "compositing/PreviewView.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "output/OutputSettings.h"
#include "output/TmpFilePath.h"
#include "ui/BackgroundRunner.h"
#include "ui/ZTWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QStatusBar>
#include <QUrl>

void AppController::saveDocumentAs()
{
    saveDocumentInFolder(QString());
}

void AppController::saveDocumentInFolder(const QString& folder)
{
    if (!previewView()->hasImage() || isBusy())
        return;
    outputPanel()->commitEditing();
    // The folder saved into last, across runs; the photo's own folder the first time.
    QString start = folder;
    if (start.isEmpty()) {
        const QString last = _defaults.stringForKey(DefLastSaveFolder);
        start = !last.isEmpty() && QFileInfo(last).isDir() ? last : _documentFolder;
    }
    const SavePanel::Target target =
        SavePanel::askTarget(mainWindow(), start, filename(), *_settings, _documentPath);
    if (target.path.isEmpty())
        return;
    QString error;
    const QString written =
        writeImageToFile(target.path, _settings->fileFormat(), target.quality, &error);
    if (written.isEmpty()) {
        SavePanel::reportFailure(mainWindow(), target.path, error);
        return;
    }
    _defaults.setString(QFileInfo(written).absolutePath(), DefLastSaveFolder);
    updateFilesizeForFile(written);
}

ExportRenderer::Options AppController::exportOptions(std::optional<FileFormat> format,
                                                     int quality) const
{
    ExportRenderer::Options options;
    options.format = format.value_or(_settings->fileFormat());
    options.quality = quality < 0 ? _settings->jpegQuality() : quality;
    options.limitKB = _settings->limitFilesize() ? _settings->filesizeLimit() : 0;
    options.preserveMetadata = _settings->preserveMetadata();
    return options;
}

QString AppController::writeImageToFile(const QString& nameOrPath, FileFormat format, int quality,
                                        QString* error)
{
    // A copy: the user may go on dragging or picking frames while the worker writes it.
    const FramedPhoto document = previewView()->framedPhoto();
    const ExportRenderer::Options options = exportOptions(format, quality);
    QString path;
    QString why;
    int used = options.quality;
    if (!document.hasPhoto())
        why = tr("There is no photo to write.");
    else if (!_runner->run([&] {
                 path = _exporter->writeImageToFile(document, nameOrPath, options, &why, &used);
             }))
        why = tr("Another export is still running.");
    if (!path.isEmpty())
        _noteQuality(options, used);
    if (error)
        *error = why;
    return path;
}

QString AppController::_tmpName() const
{
    // Whatever is typed in the name field, the temporary file stays in our own folder.
    const QString name = filename();
    return TmpFilePath::bareName(name.trimmed().isEmpty() ? tr("Untitled") : name);
}

QString AppController::writeTmpFile(QString* error)
{
    outputPanel()->commitEditing();
    return writeImageToFile(_tmpName(), _settings->fileFormat(), _settings->jpegQuality(), error);
}

void AppController::copy()
{
    const FramedPhoto document = previewView()->framedPhoto();
    if (!document.hasPhoto() || isBusy())
        return;
    outputPanel()->commitEditing();
    const ExportRenderer::Options options = exportOptions();
    const QString name = _tmpName();
    QString path;
    QString why;
    int used = options.quality;
    _runner->run([&] { path = _exporter->writeImageToFile(document, name, options, &why, &used); });
    auto* mime = new QMimeData;
    // The picture as shown: a program that pastes image data asks for it encoded, which
    // for the full size would take seconds. The full size is in the file that goes along.
    mime->setImageData(previewView()->image());
    if (!path.isEmpty()) {
        mime->setText(path);
        mime->setUrls({QUrl::fromLocalFile(path)});
        updateFilesizeForFile(path);
        _noteQuality(options, used);
    }
    QGuiApplication::clipboard()->setMimeData(mime);
    // The picture is on the clipboard all the same; the file that should go with it is not.
    if (path.isEmpty())
        SavePanel::reportFailure(mainWindow(), TmpFilePath::tmpPathForFormat(name, options.format),
                                 why);
}

void AppController::paste()
{
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    const QImage picture =
        mime && mime->hasImage() ? qvariant_cast<QImage>(mime->imageData()) : QImage();
    if (picture.isNull() || isBusy()) {
        QApplication::beep();
        return;
    }
    // The open photo's file stays the document's, so saving over it still asks as before.
    const ImageMetadata metadata = imageMetadata();
    _exporter->discardRender();
    previewView()->setImage(picture, metadata);
    updateFilesizeForFile(QString());
    _validateCommands();
}

void AppController::_noteQuality(const ExportRenderer::Options& options, int used)
{
    QString note;
    if (isLossyFormat(options.format) && options.limitKB > 0 && used < options.quality)
        note = tr("Saved at quality %1 to stay under %2 KB").arg(used).arg(options.limitKB);
    outputPanel()->setQualityNote(note);
    if (note.isEmpty())
        mainWindow()->statusBar()->clearMessage();
    else
        mainWindow()->statusBar()->showMessage(note);
}
