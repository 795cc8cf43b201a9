#include "AppController.h"

#include "app/BatchSheet.h"
#include "app/CompanionController.h"
#include "app/MainInterface.h"
#include "app/MediaBrowser.h"
#include "app/OutputController.h"
#include "app/OutputPanel.h"
#include "app/SUUpdater.h"
#include "compositing/Document.h"
#include "compositing/ImageProcessor.h"
#include "foundation/CommandActions.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/Logging.h"
#include "foundation/NativeFile.h"
#include "foundation/UserDefaults.h"
#include "frames/FrameLibrary.h"
#include "output/ImageReader.h"
#include "output/OutputSettings.h"
#include "ui/BackgroundRunner.h"
#include "ui/PreferenceController.h"
#include "ui/PreviewView.h"
#include "ui/ProxyView.h"
#include "ui/ZTWindow.h"
#include "ui/frames/ThumbnailController.h"
#include "ui/targets/TargetController.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTimer>

#include <functional>

namespace {

constexpr int kDrawerDelayMs = 200;
constexpr int kSharePromptDelayMs = 1000;
constexpr int kEarlierLaunchesBeforeSharePrompt = 5;

} // namespace

AppController::AppController(UserDefaults& defaults, QObject* parent)
    : QObject(parent), _defaults(defaults), _exporter(std::make_unique<ExportRenderer>())
{
    _registerDefaults();
    _document = new Document(this);
    _settings = new OutputSettings(_defaults, this);
    _interface = new MainInterface(_defaults, *_settings, this);
    _runner = new BackgroundRunner(this);
    _runner->setProgressIndicator(outputPanel()->progressIndicator());
    _output = new OutputController(_defaults, *_settings, *_interface, *_runner, *_exporter,
                                   *_document, this);
    _makeCommands();
    _connectInterface();
    _interface->restoreGeometry();
    _companions = new CompanionController(_defaults, *_interface, *_output, this);
    _interface->addCommands(_output->commands());
    _interface->addCommands(_companions->commands());
    _interface->assembleCommands();

    // The frame panel comes a moment after the window, as the drawer used to slide out.
    QTimer::singleShot(kDrawerDelayMs, this, [this] {
        if (QDockWidget* panel = drawer())
            panel->show();
    });

    connect(qApp, &QCoreApplication::aboutToQuit, this, &AppController::applicationShouldTerminate);
    _interface->setPhotoBrowserAvailable(!MediaBrowser::resourceBundlePath().isEmpty());
    _validateCommands();
}

AppController::~AppController()
{
    // The window sends events while QWidget's destructor runs, when it is no ZTWindow any
    // more and the filter's mainWindow() would be a bad downcast.
    if (ZTWindow* window = mainWindow())
        window->removeEventFilter(this);
    // It tells the user through the window, which goes below.
    delete _companions;
    _companions = nullptr;
    delete _preferenceController;
    _preferenceController = nullptr;
    delete _interface;
}

ZTWindow* AppController::mainWindow() const
{
    return _interface->mainWindow();
}

PreviewView* AppController::previewView() const
{
    return _interface->previewView();
}

OutputPanel* AppController::outputPanel() const
{
    return _interface->outputPanel();
}

QDockWidget* AppController::drawer() const
{
    return _interface->drawer();
}

QColorDialog* AppController::colorPanel() const
{
    return _interface->colorPanel();
}

void AppController::_registerDefaults()
{
    _defaults.registerDefaults(OutputSettings::factoryDefaults());
    // The updater never checks by itself; we decide at launch whether it does. A choice
    // the user made in the updater's own setting is taken over once. Only a stored value
    // of ours counts as a choice: the factory defaults always carry one.
    if (!_defaults.hasStoredValue(DefCheckForUpdatesAtStartup))
        _defaults.setBool(_defaults.boolForKey(DefSUCheckAtStartup), DefCheckForUpdatesAtStartup);
    _defaults.setBool(false, DefSUCheckAtStartup);
}

void AppController::_makeCommands()
{
    const std::pair<const char*, std::function<void()>> runs[] = {
        {"open", [this] { openDocument(); }},
        {"frameSeveral", [this] { frameSeveralPhotos(); }},
        {"close", [this] { closeImage(); }},
        {"flipFrame", [this] { flipHorizontal(); }},
        {"flipH", [this] { flipHorizontal(); }},
        {"colors", [this] { showColorPanel(); }},
        {"preferences", [this] { showPreferencePanel(); }},
    };
    QList<QAction*> actions;
    for (const auto& [identifier, run] : runs) {
        QAction* action = CommandActions::make(identifier, this);
        connect(action, &QAction::triggered, this, run);
        actions << action;
    }
    _interface->addCommands(actions);
}

void AppController::_connectInterface()
{
    ZTWindow* window = mainWindow();
    PreviewView* preview = previewView();
    window->installEventFilter(this);
    connect(_document, &Document::photoChanged, this, [this] {
        const QSize size = _document->framedPhoto().photo.size();
        setDimension(size.width(), size.height());
    });
    connect(preview, &PreviewView::fileDropped, this,
            [this](const QString& path) { applicationOpenFile(path); });
    connect(preview, &PreviewView::filesDropped, this, [this](const QStringList& paths) {
        QList<QByteArray> names;
        for (const QString& path : paths)
            names << QFile::encodeName(path);
        frameSeveral(names);
    });
    connect(preview, &PreviewView::imageDropped, this,
            [this](const QImage& image) { _openImage(image, ImageMetadata(), QString()); });
    // Every change of the document or redraw may change what would be written: the file
    // written last is forgotten.
    connect(_document, &Document::changed, this, [this] { _exporter->clearCache(); });
    connect(preview, &PreviewView::redrawn, this, [this] { _exporter->clearCache(); });
    connect(_runner, &BackgroundRunner::busyChanged, this, &AppController::_validateCommands);

    connect(_interface->thumbnailController(), &ThumbnailController::frameChosen, this,
            [this](const QString& path) { _setFrame(path, false); });
    connect(_interface->thumbnailController(), &ThumbnailController::collectionMoved, _document,
            &Document::moveFrameFolder);
    connect(colorPanel(), &QColorDialog::colorSelected, this, &AppController::setColor);
    connect(outputPanel(), &OutputPanel::colorButtonClicked, this, &AppController::showColorPanel);

    previewView()->setDocument(_document);
    // The name field shows the document's output name and edits it.
    QLineEdit* nameField = outputPanel()->filenameField();
    connect(_document, &Document::outputNameChanged, nameField, [nameField](const QString& name) {
        if (nameField->text() != name)
            nameField->setText(name);
    });
    connect(nameField, &QLineEdit::textChanged, _document, &Document::setOutputName);

    ProxyView* proxy = _interface->proxyView();
    proxy->setPreparer([this] { return _output->writeTmpFile(); });
    connect(proxy, &ProxyView::dragStarted, _output, &OutputController::updateFilesizeForFile);
    connect(_output, &OutputController::pictureToOpen, this, [this](const QImage& picture) {
        // The open photo's file stays the document's, so saving over it still asks as before.
        const ImageMetadata metadata = imageMetadata();
        _exporter->discardRender();
        _document->setPhoto(picture, metadata);
        updateFilesizeForFile(QString());
        _validateCommands();
    });
    TargetController* sendTo = _interface->targetController();
    sendTo->setTmpFileWriter([this](QString* error) { return _output->writeTmpFile(error); });
    connect(sendTo, &TargetController::saveDocumentInFolderRequested, _output,
            &OutputController::saveDocumentInFolder);
    connect(sendTo, &TargetController::sendToTrimletRequested, this,
            [this] { _companions->sendToTrimlet(); });
    connect(sendTo, &TargetController::sendToShuttleboxRequested, this,
            [this] { _companions->sendToShuttlebox(); });

    // Every change that makes the file written last stale empties the size display and
    // forgets the file.
    connect(_settings, &OutputSettings::outputStale, this, [this] {
        updateFilesizeForFile(QString());
        _exporter->clearCache();
    });
    connect(_document, &Document::colorChanged, this, [this] {
        outputPanel()->setSwatchColor(_document->color());
        updateFilesizeForFile(QString());
    });
    connect(_settings, &OutputSettings::borderColorNeeded, _document, &Document::setTransparent);
    _document->setTransparent(_settings->transparentBackground());
    // The document takes the setting as a value; no view reads it.
    _document->setAutoRotate(_defaults.boolForKey(DefAutoRotateBorder));
    _defaults.addObserver({DefAutoRotateBorder}, _document,
                          [this](const QString&, const QVariant&) {
                              _document->setAutoRotate(_defaults.boolForKey(DefAutoRotateBorder));
                          });
}

void AppController::applicationDidFinishLaunching()
{
    const int earlierLaunches = _defaults.integerForKey(DefLaunchCount);
    _defaults.setInteger(earlierLaunches + 1, DefLaunchCount);
    _defaults.synchronize();
    _companions->checkForUpdatesSilently();
    if (earlierLaunches > kEarlierLaunchesBeforeSharePrompt)
        QTimer::singleShot(kSharePromptDelayMs, _companions,
                           &CompanionController::runShareOnFacebookSheet);
}

bool AppController::applicationOpenFile(const QString& path)
{
    return applicationOpenNativeFile(QFile::encodeName(path));
}

bool AppController::applicationOpenNativeFile(const QByteArray& name)
{
    if (isBusy()) {
        // An export or another photo is under way; the file opens as soon as it is done.
        _runner->whenIdle([this, name] { applicationOpenNativeFile(name); });
        return true;
    }
    NativeFile file(name);
    const QString shown = file.displayName();
    QString why;
    const QString path = file.path(&why);
    // Large photos take a while to decode; the window keeps painting meanwhile.
    QImage photo;
    QString damage;
    bool isImage = false;
    ImageMetadata metadata;
    if (!path.isEmpty()) {
        _runner->run([&] {
            photo = ImageReader::readImage(path, &why, &damage);
            if (!photo.isNull())
                metadata = ImageMetadata::metadataForFile(path);
            // Only a regular file is looked into: a FIFO would block the reader for good.
            else if (QFileInfo(path).isFile())
                isImage = ImageReader::canRead(path);
        });
    }
    if (photo.isNull()) {
        // An image that is too large or damaged says so; "not an image file" would mislead.
        mainWindow()->runMessageSheetWithTitle(
            tr("Unable to Open '%1'").arg(QFileInfo(shown).fileName()),
            isImage ? why : tr("This is probably because it is not an image file."));
        return false;
    }
    _openImage(photo, metadata, shown);
    // What can be shown is shown, but the user must know the rest is missing.
    if (!damage.isEmpty())
        mainWindow()->runMessageSheetWithTitle(
            tr("'%1' Is Damaged").arg(QFileInfo(shown).fileName()),
            damage + QLatin1Char(' ') + tr("Only the part that could be read is shown."));
    return true;
}

void AppController::_openImage(const QImage& photo, const ImageMetadata& metadata,
                               const QString& path)
{
    // The render of the previous photo is of no use any more; let its memory go now.
    _exporter->discardRender();
    _document->openPhoto(photo, metadata, path);
    if (!path.isEmpty())
        emit documentFileChanged(path);
    updateFilesizeForFile(QString());
    _validateCommands();
}

bool AppController::isBusy() const
{
    return _runner->isBusy();
}

void AppController::openFiles(const QList<QByteArray>& names)
{
    if (ZTWindow* window = mainWindow()) {
        if (window->isMinimized())
            window->showNormal();
        window->show();
        window->raise();
        window->activateWindow();
    }
    if (names.size() > 1) {
        frameSeveral(names);
        return;
    }
    for (const QByteArray& name : names)
        applicationOpenNativeFile(name);
}

BatchSheet* AppController::batchSheet() const
{
    return _batchSheet;
}

void AppController::frameSeveralPhotos()
{
    QFileDialog dialog(mainWindow(), tr("Frame Several Photos"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(tr("Images (%1)").arg(ImageReader::nameFilters().join(QLatin1Char(' '))));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    QList<QByteArray> names;
    for (const QString& file : dialog.selectedFiles())
        names << QFile::encodeName(file);
    frameSeveral(names);
}

void AppController::frameSeveral(const QList<QByteArray>& names)
{
    if (names.isEmpty() || (_batchSheet && _batchSheet->isVisible()))
        return;
    outputPanel()->commitEditing();
    // The folder saved into last; else a folder of its own beside the photos, so that the
    // framed files never meet the photos themselves.
    QString folder = _defaults.stringForKey(DefLastSaveFolder);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder =
            QDir(QFileInfo(QFile::decodeName(names.first())).absolutePath()).filePath(tr("Framed"));
    delete _batchSheet;
    _batchSheet = new BatchSheet(names, _document->framedPhoto(), _output->exportOptions(), folder,
                                 mainWindow());
    _batchSheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(_batchSheet, &BatchSheet::batchEnded, this, [this] {
        if (_batchSheet && _batchSheet->framedCount() > 0)
            _defaults.setString(QFileInfo(_batchSheet->folder()).absoluteFilePath(),
                                DefLastSaveFolder);
    });
    _batchSheet->open();
}

void AppController::openDocument()
{
    QFileDialog dialog(mainWindow(), tr("Open Image"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(tr("Images (%1)").arg(ImageReader::nameFilters().join(QLatin1Char(' '))));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    applicationOpenFile(dialog.selectedFiles().constFirst());
}

void AppController::setFilename(const QString& path)
{
    _document->setSourceFile(path);
    emit documentFileChanged(path);
}

QString AppController::filename() const
{
    return _document->outputName();
}

const ImageMetadata& AppController::imageMetadata() const
{
    return *_document->framedPhoto().metadata;
}

void AppController::setDimension(double width, double height)
{
    const long w = std::lround(width);
    const long h = std::lround(height);
    if (w > 0)
        mainWindow()->setTitleSuffix(tr("(%1 x %2 pixels)").arg(w).arg(h));
    else
        mainWindow()->setTitleSuffix(QString());
}

void AppController::closeImage()
{
    mainWindow()->setTitleSuffix(QString());
    _exporter->discardRender();
    _document->setPhoto(QImage());
    _interface->thumbnailController()->deselectAll();
    _setFrame(QString(), false);
    setFilename(QString());
    colorPanel()->close();
    _validateCommands();
}

void AppController::updateFilesizeForFile(const QString& path)
{
    _output->updateFilesizeForFile(path);
}

QString AppController::borderPath() const
{
    return _document->framedPhoto().framePath;
}

bool AppController::shouldFlipHorizontal() const
{
    return _document->framedPhoto().flipped;
}

void AppController::_setFrame(const QString& path, bool flip)
{
    FrameLibrary::LoadedFrame loaded;
    QString error;
    if (!FrameLibrary::loadFrame(path, flip, &loaded, &error))
        qCWarning(lcVelluma) << "frame not shown:" << error;
    _document->setFrame(loaded, path, flip);
    updateFilesizeForFile(QString());
}

void AppController::setBorderPath(const QString& path)
{
    _setFrame(path, shouldFlipHorizontal());
}

void AppController::setFlipHorizontal(bool flip)
{
    if (flip != shouldFlipHorizontal())
        _setFrame(borderPath(), flip);
}

void AppController::flipHorizontal()
{
    setFlipHorizontal(!shouldFlipHorizontal());
}

void AppController::setColor(const QColor& color)
{
    if (!_document->setChosenColor(color))
        return;
    // The document no longer wants the background transparent; the stored choice and the
    // check box follow it.
    _settings->setTransparentBackground(false);
}

void AppController::showColorPanel()
{
    colorPanel()->setCurrentColor(_document->chosenColor());
    colorPanel()->show();
    colorPanel()->raise();
    colorPanel()->activateWindow();
}

void AppController::showPreferencePanel()
{
    if (!_preferenceController) {
        _preferenceController = new PreferenceController(_defaults, this);
        connect(_preferenceController, &PreferenceController::preferenceDidChange, this,
                [this] { previewView()->updatePreview(); });
        connect(_preferenceController, &PreferenceController::checkForUpdatesRequested, _companions,
                [this] { _companions->updater()->checkForUpdates(); });
    }
    _preferenceController->showWindow(mainWindow());
}

void AppController::_validateCommands()
{
    _interface->validateCommands(_document->hasPhoto(), isBusy());
}

bool AppController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == mainWindow() && event->type() == QEvent::Close) {
        if (isBusy()) {
            _runner->whenIdle([this] {
                if (ZTWindow* window = mainWindow())
                    window->close();
            });
            event->ignore();
            return true;
        }
        // Closing the main window ends the program.
        _interface->saveGeometry();
        colorPanel()->close();
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    return QObject::eventFilter(watched, event);
}

void AppController::applicationShouldTerminate()
{
    if (_terminated)
        return;
    _terminated = true;
    _interface->saveGeometry();
    _defaults.synchronize();
    ExportRenderer::removeTmpFiles();
    _companions->closePhotoBrowser();
}
