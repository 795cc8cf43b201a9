#include "OutputController.h"

#include "app/MainInterface.h"
#include "app/OutputPanel.h"
#include "app/SavePanel.h"
#include "compositing/Document.h"
#include "foundation/CommandActions.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "output/OutputSettings.h"
#include "output/TmpFilePath.h"
#include "ui/BackgroundRunner.h"
#include "ui/PreviewView.h"
#include "ui/ZTWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QStatusBar>
#include <QUrl>

OutputController::OutputController(UserDefaults& defaults, OutputSettings& settings,
                                   MainInterface& window, BackgroundRunner& runner,
                                   ExportRenderer& exporter, Document& document, QObject* parent)
    : QObject(parent), _defaults(defaults), _settings(settings), _window(window), _runner(runner),
      _exporter(exporter), _document(document)
{
    const std::pair<const char*, void (OutputController::*)()> runs[] = {
        {"save", &OutputController::saveDocumentAs},
        {"copy", &OutputController::copy},
        {"paste", &OutputController::paste},
    };
    for (const auto& [identifier, run] : runs) {
        QAction* action = CommandActions::make(identifier, this);
        connect(action, &QAction::triggered, this, run);
        _commands << action;
    }
}

bool OutputController::isBusy() const
{
    return _runner.isBusy();
}

void OutputController::saveDocumentAs()
{
    saveDocumentInFolder(QString());
}

void OutputController::saveDocumentInFolder(const QString& folder)
{
    if (!_document.framedPhoto().hasPhoto() || _runner.isBusy())
        return;
    _window.outputPanel()->commitEditing();
    // The folder saved into last, across runs; the photo's own folder the first time.
    QString start = folder;
    if (start.isEmpty()) {
        const QString last = _defaults.stringForKey(DefLastSaveFolder);
        start = !last.isEmpty() && QFileInfo(last).isDir() ? last : _document.sourceFolder();
    }
    ZTWindow* window = _window.mainWindow();
    // The dialog suggests the name a copy would take: a slash or a blank field would
    // otherwise become a folder that is not there or a file named by spaces.
    const SavePanel::Target target =
        SavePanel::askTarget(window, start, tmpName(), _settings, _document.sourcePath());
    if (target.path.isEmpty())
        return;
    QString error;
    const QString written =
        writeImageToFile(target.path, _settings.fileFormat(), target.quality, &error);
    if (written.isEmpty()) {
        SavePanel::reportFailure(window, target.path, error);
        return;
    }
    _defaults.setString(QFileInfo(written).absolutePath(), DefLastSaveFolder);
    updateFilesizeForFile(written);
}

ExportRenderer::Options OutputController::exportOptions(std::optional<FileFormat> format,
                                                        int quality) const
{
    ExportRenderer::Options options;
    options.format = format.value_or(_settings.fileFormat());
    options.quality = quality < 0 ? _settings.jpegQuality() : quality;
    options.limitKB = _settings.limitFilesize() ? _settings.filesizeLimit() : 0;
    options.preserveMetadata = _settings.preserveMetadata();
    return options;
}

QString OutputController::writeImageToFile(const QString& nameOrPath, FileFormat format,
                                           int quality, QString* error)
{
    // A copy: the user may go on dragging or picking frames while the worker writes it.
    const FramedPhoto document = _document.framedPhoto();
    const ExportRenderer::Options options = exportOptions(format, quality);
    QString path;
    QString why;
    int used = options.quality;
    if (!document.hasPhoto())
        why = tr("There is no photo to write.");
    else if (!_runner.run([&] {
                 path = _exporter.writeImageToFile(document, nameOrPath, options, &why, &used);
             }))
        why = tr("Another export is still running.");
    if (!path.isEmpty())
        _noteQuality(options, used);
    if (error)
        *error = why;
    return path;
}

QString OutputController::tmpName() const
{
    // Whatever is typed in the name field, the temporary file stays in our own folder.
    const QString name = _document.outputName();
    return TmpFilePath::bareName(name.trimmed().isEmpty() ? tr("Untitled") : name);
}

QString OutputController::writeTmpFile(QString* error)
{
    _window.outputPanel()->commitEditing();
    return writeImageToFile(tmpName(), _settings.fileFormat(), _settings.jpegQuality(), error);
}

void OutputController::copy()
{
    const FramedPhoto document = _document.framedPhoto();
    if (!document.hasPhoto() || _runner.isBusy())
        return;
    _window.outputPanel()->commitEditing();
    const ExportRenderer::Options options = exportOptions();
    const QString name = tmpName();
    QString path;
    QString why;
    int used = options.quality;
    _runner.run([&] { path = _exporter.writeImageToFile(document, name, options, &why, &used); });
    auto* mime = new QMimeData;
    // The picture as shown: a program that pastes image data asks for it encoded, which
    // for the full size would take seconds. The full size is in the file that goes along.
    mime->setImageData(_window.previewView()->image());
    if (!path.isEmpty()) {
        mime->setText(path);
        mime->setUrls({QUrl::fromLocalFile(path)});
        updateFilesizeForFile(path);
        _noteQuality(options, used);
    }
    QGuiApplication::clipboard()->setMimeData(mime);
    // The picture is on the clipboard all the same; the file that should go with it is not.
    if (path.isEmpty())
        SavePanel::reportFailure(_window.mainWindow(),
                                 TmpFilePath::tmpPathForFormat(name, options.format), why);
}

void OutputController::paste()
{
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    const QImage picture =
        mime && mime->hasImage() ? qvariant_cast<QImage>(mime->imageData()) : QImage();
    if (picture.isNull() || _runner.isBusy()) {
        QApplication::beep();
        return;
    }
    emit pictureToOpen(picture);
}

void OutputController::updateFilesizeForFile(const QString& path)
{
    QLabel* field = _window.outputPanel()->filesizeField();
    if (path.isEmpty()) {
        field->setText(QString());
        _noteQuality(ExportRenderer::Options(), 0);
        return;
    }
    field->setText(_stringForFilesize(QFileInfo(path).size()));
}

QString OutputController::_stringForFilesize(qint64 size)
{
    constexpr double kPerKB = 0.0009765625; // 1/1024
    if (size == 0)
        return QStringLiteral("-");
    if (size < 1024)
        return tr("%1 bytes").arg(size);
    if (size < 1048576)
        return tr("%1 KB").arg(double(size) * kPerKB, 0, 'f', 2);
    return tr("%1 MB").arg(double(size) * kPerKB * kPerKB, 0, 'f', 2);
}

void OutputController::_noteQuality(const ExportRenderer::Options& options, int used)
{
    QString note;
    if (isLossyFormat(options.format) && options.limitKB > 0 && used < options.quality)
        note = tr("Saved at quality %1 to stay under %2 KB").arg(used).arg(options.limitKB);
    _window.outputPanel()->setQualityNote(note);
    ZTWindow* window = _window.mainWindow();
    if (note.isEmpty())
        window->statusBar()->clearMessage();
    else
        window->statusBar()->showMessage(note);
}
