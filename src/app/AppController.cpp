#include "AppController.h"

#include "app/OutputPanel.h"
#include "app/OutputSettings.h"
#include "compositing/ImageProcessor.h"
#include "compositing/PreviewView.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/Resources.h"
#include "foundation/UserDefaults.h"
#include "frames/ThumbnailController.h"
#include "output/ExportRenderer.h"
#include "output/ImageReader.h"
#include "output/TmpFilePath.h"
#include "ui/PreferenceController.h"
#include "ui/ZTWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QColorDialog>
#include <QDockWidget>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace {

const QString kWindowFrameKey = QStringLiteral("mainWindow");
const QString kToolbarIdentifier = QStringLiteral("VellumaToolbar202");
constexpr int kDrawerDelayMs = 200;
constexpr int kSharePromptDelayMs = 1000;
constexpr int kEarlierLaunchesBeforeSharePrompt = 5;

QIcon resourceIcon(const QString& name)
{
    return QIcon(Resources::pathFor(QStringLiteral("toolbar/%1.svg").arg(name)));
}

// The lower-case extensions of the image types we read ("jpg", "png", ...).
QStringList readableExtensions()
{
    QStringList extensions;
    for (const QString& pattern : ImageReader::nameFilters()) {
        QString extension = pattern;
        extension.remove(QStringLiteral("*."));
        extensions << extension.toLower();
    }
    return extensions;
}

int formatForNameFilter(const QString& filter)
{
    if (filter.startsWith(QLatin1String("PNG")))
        return FormatPNG;
    if (filter.startsWith(QLatin1String("TIFF")))
        return FormatTIFF;
    return FormatJPEG;
}

} // namespace

AppController::AppController(UserDefaults& defaults, QObject* parent)
    : QObject(parent), _defaults(defaults)
{
    _registerDefaults();
    _settings = new OutputSettings(_defaults, this);
    _buildWindow();
    _buildActions();
    _initToolbar();
    _connectSettings();
    _restoreGeometry();

    // The frame panel comes a moment after the window, as the drawer used to slide out.
    QTimer::singleShot(kDrawerDelayMs, this, [this] {
        if (_drawer)
            _drawer->show();
    });

    connect(qApp, &QCoreApplication::aboutToQuit, this, &AppController::applicationShouldTerminate);
    _validateCommands();
}

AppController::~AppController()
{
    // The frame panel's controller keeps plain pointers into the window's dock, and the
    // window's widgets refer to the settings and the preview: controller, then window.
    delete _thumbnailController;
    _thumbnailController = nullptr;
    delete _preferenceController;
    _preferenceController = nullptr;
    delete _mainWindow;
}

void AppController::_registerDefaults()
{
    _defaults.registerDefaults(OutputSettings::factoryDefaults());
    // The updater never checks by itself; we decide at launch whether it does.
    if (!_defaults.hasStoredValue(DefCheckForUpdatesAtStartup) &&
        !_defaults.registeredDefaults().contains(DefCheckForUpdatesAtStartup))
        _defaults.setBool(_defaults.boolForKey(DefSUCheckAtStartup), DefCheckForUpdatesAtStartup);
    _defaults.setBool(false, DefSUCheckAtStartup);
}

void AppController::_buildWindow()
{
    _mainWindow = new ZTWindow;
    _mainWindow->setObjectName(QStringLiteral("mainWindow"));
    _mainWindow->setTitle(QStringLiteral("Velluma"));
    _mainWindow->setWindowIcon(QIcon(Resources::pathFor(QStringLiteral("velluma.svg"))));
    _mainWindow->installEventFilter(this);

    auto* central = new QWidget(_mainWindow);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(8, 8, 8, 0);
    layout->setSpacing(4);
    _previewView = new PreviewView(_defaults, *_settings, central);
    _previewView->setObjectName(QStringLiteral("previewView"));
    _outputPanel = new OutputPanel(*_settings, central);
    _outputPanel->setObjectName(QStringLiteral("outputPanel"));
    layout->addWidget(_previewView, 1);
    layout->addWidget(_outputPanel, 0);
    _mainWindow->setCentralWidget(central);

    // The window opens with the picture focused, not the name field's text cursor.
    _previewView->setFocusPolicy(Qt::StrongFocus);
    _previewView->setFocus();
    _previewView->setProgressIndicator(_outputPanel->progressIndicator());
    _previewView->setDocumentNameProvider([this] { return filename(); });
    connect(_previewView, &PreviewView::dimensionChanged, this,
            [this](QSize size) { setDimension(size.width(), size.height()); });
    connect(_previewView, &PreviewView::fileDropped, this,
            [this](const QString& path) { applicationOpenFile(path); });
    connect(_previewView, &PreviewView::outputStale, this,
            [this] { updateFilesizeForFile(QString()); });
    connect(_previewView, &PreviewView::busyChanged, this, &AppController::_busyChanged);

    _thumbnailController = new ThumbnailController(_defaults, _mainWindow, this);
    connect(_thumbnailController, &ThumbnailController::frameChosen, this,
            [this](const QString& path) {
                setFlipHorizontal(false);
                setBorderPath(path);
            });
    _drawer = new QDockWidget(tr("Frames"), _mainWindow);
    _drawer->setObjectName(QStringLiteral("drawer"));
    // The frame library is always at hand: it can move but never close.
    _drawer->setFeatures(QDockWidget::DockWidgetMovable);
    _drawer->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    _drawer->setWidget(_thumbnailController->panel());
    _mainWindow->addDockWidget(Qt::RightDockWidgetArea, _drawer);
    _drawer->hide();
    // The window's own context menu would offer to hide the panel.
    _mainWindow->setContextMenuPolicy(Qt::PreventContextMenu);

    // One colour dialog for the whole run; its choice counts once the user confirms it.
    _colorPanel = new QColorDialog(_chosenColor, _mainWindow);
    _colorPanel->setObjectName(QStringLiteral("colorPanel"));
    _colorPanel->setWindowTitle(tr("Frame Colour"));
    _colorPanel->setModal(false);
    _colorPanel->setWindowModality(Qt::NonModal);
    connect(_colorPanel, &QColorDialog::colorSelected, this, &AppController::setColor);
    connect(_outputPanel, &OutputPanel::colorButtonClicked, this, &AppController::showColorPanel);
    _outputPanel->setSwatchColor(_previewView->borderColor());
}

void AppController::_buildActions()
{
    auto make = [this](const QString& text, const QKeySequence& key, auto slot) {
        auto* action = new QAction(text, _mainWindow);
        if (!key.isEmpty())
            action->setShortcut(key);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    _openAction = make(tr("&Open..."), QKeySequence::Open, &AppController::openDocument);
    _openAction->setIcon(resourceIcon(QStringLiteral("openToolbarItem")));
    _openAction->setToolTip(tr("Open image"));
    _saveAction = make(tr("&Save As..."), QKeySequence::Save, &AppController::saveDocumentAs);
    _saveAction->setShortcuts({QKeySequence::Save, QKeySequence::SaveAs});
    _saveAction->setIcon(resourceIcon(QStringLiteral("saveToolbarItem")));
    _saveAction->setToolTip(tr("Save image"));
    _copyAction = make(tr("&Copy"), QKeySequence::Copy, &AppController::copy);
    _copyAction->setIcon(resourceIcon(QStringLiteral("copyToolbarItem")));
    _copyAction->setToolTip(tr("Copy image to clipboard"));
    _closeAction = make(tr("C&lose Image"), QKeySequence::Close, &AppController::closeImage);
    _closeAction->setIcon(resourceIcon(QStringLiteral("clearToolbarItem")));
    _closeAction->setToolTip(tr("Clear image"));
    _flipAction =
        make(tr("&Flip Frame Horizontally"), QKeySequence(), &AppController::flipHorizontal);
    _flipAction->setIcon(resourceIcon(QStringLiteral("flipHToolbarItem")));
    _flipAction->setIconText(tr("Flip H"));
    _flipAction->setToolTip(tr("Flip Border Horizontally"));
    // The menu's flip works without a photo too (it flips the chosen frame); the toolbar's
    // waits for one.
    _flipMenuAction = make(tr("&Flip Frame Horizontally"), QKeySequence(Qt::CTRL | Qt::Key_F),
                           &AppController::flipHorizontal);
    _colorsAction = make(tr("Show &Colours"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C),
                         &AppController::showColorPanel);
    _colorsAction->setIcon(resourceIcon(QStringLiteral("colorsToolbarItem")));
    _colorsAction->setToolTip(tr("Show the colour dialog"));
    _drawerAction = make(tr("Show &Frames"), QKeySequence(), &AppController::toggleDrawer);
    _preferencesAction =
        make(tr("&Preferences..."), QKeySequence::Preferences, &AppController::showPreferencePanel);
    if (_preferencesAction->shortcut().isEmpty())
        _preferencesAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    _preferencesAction->setIcon(resourceIcon(QStringLiteral("preferencesToolbarItem")));
    _preferencesAction->setToolTip(tr("Preferences"));
    _quitAction = make(tr("&Quit"), QKeySequence::Quit, [this] { _mainWindow->close(); });
    if (_quitAction->shortcut().isEmpty())
        _quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenuBar* bar = _mainWindow->menuBar();
    QMenu* file = bar->addMenu(tr("&File"));
    file->addAction(_openAction);
    file->addAction(_saveAction);
    file->addAction(_closeAction);
    file->addSeparator();
    file->addAction(_quitAction);
    QMenu* edit = bar->addMenu(tr("&Edit"));
    edit->addAction(_copyAction);
    edit->addSeparator();
    edit->addAction(_flipMenuAction);
    edit->addAction(_preferencesAction);
    QMenu* view = bar->addMenu(tr("&View"));
    view->addAction(_colorsAction);
    view->addAction(_drawerAction);
    view->addSeparator();
    view->addAction(tr("&Zoom"), _mainWindow, &ZTWindow::zoom);
}

void AppController::_initToolbar()
{
    _toolBar = new QToolBar(tr("Toolbar"), _mainWindow);
    _toolBar->setObjectName(kToolbarIdentifier);
    _toolBar->setMovable(false);
    _toolBar->setIconSize(QSize(28, 28));
    _toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    _toolBar->addAction(_openAction);
    _toolBar->addAction(_saveAction);
    _toolBar->addAction(_copyAction);
    _toolBar->addAction(_closeAction);
    _toolBar->addAction(_colorsAction);
    _toolBar->addAction(_flipAction);
    auto* spacer = new QWidget(_toolBar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    _toolBar->addWidget(spacer);
    _toolBar->addAction(_preferencesAction);
    _mainWindow->addToolBar(Qt::TopToolBarArea, _toolBar);
}

void AppController::_connectSettings()
{
    // Every change that makes the file written last stale empties the size display and
    // forgets the file.
    connect(_settings, &OutputSettings::outputStale, this, [this] {
        updateFilesizeForFile(QString());
        _previewView->clearCache();
    });
    connect(_settings, &OutputSettings::borderColorNeeded, this, [this](bool transparent) {
        std::optional<QColor> color;
        if (!transparent)
            color = _chosenColor;
        _previewView->setBorderColor(color);
        _outputPanel->setSwatchColor(color);
    });
}

void AppController::_restoreGeometry()
{
    const QByteArray stored =
        QByteArray::fromBase64(_defaults.stringForKey(kWindowFrameKey).toLatin1());
    if (!stored.isEmpty() && _mainWindow->restoreGeometry(stored))
        return;
    _mainWindow->resize(1120, 780);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), _mainWindow->size());
        frame.moveCenter(screen->availableGeometry().center());
        _mainWindow->move(frame.topLeft());
    }
}

void AppController::_saveGeometry()
{
    if (_mainWindow)
        _defaults.setString(QString::fromLatin1(_mainWindow->saveGeometry().toBase64()),
                            kWindowFrameKey);
}

void AppController::applicationDidFinishLaunching()
{
    const int earlierLaunches = _defaults.integerForKey(DefLaunchCount);
    _defaults.setInteger(earlierLaunches + 1, DefLaunchCount);
    _defaults.synchronize();
    if (_defaults.boolForKey(DefCheckForUpdatesAtStartup))
        emit checkForUpdatesInBackgroundRequested();
    if (earlierLaunches > kEarlierLaunchesBeforeSharePrompt)
        QTimer::singleShot(kSharePromptDelayMs, this, &AppController::shareOnFacebookPromptDue);
}

bool AppController::applicationOpenFile(const QString& path)
{
    if (_isBusy()) {
        // An export or another photo is under way; the file opens as soon as it is done.
        _pendingFiles << path;
        return true;
    }
    const QImage photo = _readPhoto(path);
    if (photo.isNull()) {
        _mainWindow->runMessageSheetWithTitle(
            QStringLiteral("Unable to Open '%1'").arg(QFileInfo(path).fileName()),
            QStringLiteral("This is probably because it is not an image file."));
        return false;
    }
    _previewView->setImage(photo);
    setFilename(path);
    updateFilesizeForFile(QString());
    _validateCommands();
    return true;
}

QImage AppController::_readPhoto(const QString& path)
{
    // Large photos take a while to decode; the window keeps painting meanwhile and input
    // waits, so nothing else starts on the document.
    _loading = true;
    _busyChanged(true);
    QProgressBar* indicator = _outputPanel->progressIndicator();
    indicator->show();
    QFuture<QImage> future = QtConcurrent::run([path] { return ImageReader::readImage(path); });
    QFutureWatcher<QImage> watcher;
    QEventLoop loop;
    connect(&watcher, &QFutureWatcher<QImage>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    future.waitForFinished();
    indicator->hide();
    _loading = false;
    _busyChanged(false);
    return future.result();
}

bool AppController::_isBusy() const
{
    return _loading || _previewView->isBusy();
}

void AppController::openFiles(const QStringList& paths)
{
    if (_mainWindow) {
        if (_mainWindow->isMinimized())
            _mainWindow->showNormal();
        _mainWindow->show();
        _mainWindow->raise();
        _mainWindow->activateWindow();
    }
    for (const QString& path : paths)
        applicationOpenFile(path);
}

void AppController::openDocument()
{
    QFileDialog dialog(_mainWindow, tr("Open Image"));
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
    QLineEdit* field = _outputPanel->filenameField();
    if (path.isEmpty()) {
        field->setText(QString());
        setImageMetadata(ImageMetadata());
    } else {
        field->setText(QFileInfo(path).completeBaseName());
        _documentFolder = QFileInfo(path).absolutePath();
        setImageMetadata(ImageMetadata::metadataForFile(path));
    }
    emit documentFileChanged(path);
}

QString AppController::filename() const
{
    return _outputPanel->filenameField()->text();
}

void AppController::setImageMetadata(const ImageMetadata& metadata)
{
    _imageMetadata = metadata;
    _previewView->setImageMetadata(metadata);
}

void AppController::setDimension(double width, double height)
{
    const long w = std::lround(width);
    const long h = std::lround(height);
    if (w > 0)
        _mainWindow->setTitleSuffix(QString::asprintf("(%ld x %ld pixels)", w, h));
    else
        _mainWindow->setTitleSuffix(QString());
}

void AppController::closeImage()
{
    _mainWindow->setTitleSuffix(QString());
    _previewView->setImage(QImage());
    _previewView->setBorderImage(QImage());
    _thumbnailController->deselectAll();
    setFilename(QString());
    _colorPanel->close();
    _validateCommands();
}

void AppController::updateFilesizeForFile(const QString& path)
{
    QLabel* field = _outputPanel->filesizeField();
    if (path.isEmpty()) {
        field->setText(QString());
        return;
    }
    field->setText(_stringForFilesize(QFileInfo(path).size()));
}

QString AppController::_stringForFilesize(qint64 size)
{
    constexpr double kPerKB = 0.0009765625; // 1/1024
    if (size == 0)
        return QStringLiteral("-");
    if (size < 1024)
        return QStringLiteral("%1 bytes").arg(size);
    if (size < 1048576)
        return QString::asprintf("%0.2f KB", double(size) * kPerKB);
    return QString::asprintf("%0.2f MB", double(size) * kPerKB * kPerKB);
}

QImage AppController::_loadFrame(const QString& path) const
{
    if (path.isEmpty())
        return QImage();
    return QImage(path);
}

QString AppController::_postMaskPathForPath(const QString& framePath)
{
    if (framePath.isEmpty())
        return QString();
    const QFileInfo info(framePath);
    QString stem = info.fileName();
    const qsizetype dot = stem.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        stem.truncate(dot);
    return info.dir().filePath(stem + QStringLiteral("_postmask.png"));
}

QImage AppController::_postMaskImageForPath(const QString& framePath)
{
    const QString path = _postMaskPathForPath(framePath);
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return QImage();
    return QImage(path);
}

void AppController::setBorderPath(const QString& path)
{
    _borderPath = path;
    const QImage border = _loadFrame(path);
    _previewView->setPostMask(_postMaskImageForPath(path));
    _previewView->setBorderImage(border);
    updateFilesizeForFile(QString());
    _previewView->clearCache();
}

void AppController::flipHorizontal()
{
    _flipH = !_flipH;
    QImage border = _loadFrame(_borderPath);
    QImage postMask = _postMaskImageForPath(_borderPath);
    if (_flipH) {
        border = ImageProcessor::flipImageHorizontal(border);
        postMask = ImageProcessor::flipImageHorizontal(postMask);
    }
    _previewView->setPostMask(postMask);
    _previewView->setBorderImage(border);
    updateFilesizeForFile(QString());
    _previewView->clearCache();
}

void AppController::refreshThumbnails()
{
    _thumbnailController->deselectAll();
    _previewView->setBorderImage(QImage());
}

void AppController::setColor(const QColor& color)
{
    const QColor rgb = color.toRgb();
    if (!rgb.isValid())
        return;
    _chosenColor = rgb;
    // Choosing a colour means the background is no longer wanted transparent; the model
    // and the check box change together, and the model hands the colour to the preview.
    _settings->setTransparentBackground(false);
}

void AppController::showColorPanel()
{
    _colorPanel->setCurrentColor(_chosenColor);
    _colorPanel->show();
    _colorPanel->raise();
    _colorPanel->activateWindow();
}

void AppController::toggleDrawer()
{
    // The panel can only be brought back, never put away.
    _drawer->show();
    _drawer->raise();
}

void AppController::showPreferencePanel()
{
    if (!_preferenceController) {
        _preferenceController = new PreferenceController(_defaults, this);
        connect(_preferenceController, &PreferenceController::preferenceDidChange, this,
                &AppController::preferenceDidChange);
        connect(_preferenceController, &PreferenceController::checkForUpdatesRequested, this,
                &AppController::checkForUpdatesRequested);
    }
    _preferenceController->showWindow(_mainWindow);
}

void AppController::preferenceDidChange()
{
    _previewView->updatePreview();
}

void AppController::saveDocumentAs()
{
    saveDocumentInFolder(QString());
}

void AppController::saveDocumentInFolder(const QString& folder)
{
    if (!_previewView->hasImage())
        return;
    const QStringList filters = {QStringLiteral("JPEG (*.jpg)"), QStringLiteral("PNG (*.png)"),
                                 QStringLiteral("TIFF (*.tiff)")};
    QFileDialog dialog(_mainWindow, tr("Save Framed Photo"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // We ask about replacing once the extension is known.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters(filters);
    const int format = _settings->fileFormat();
    dialog.selectNameFilter(filters.at(format == FormatPNG ? 1 : format == FormatTIFF ? 2 : 0));
    if (!folder.isEmpty())
        dialog.setDirectory(folder);
    else if (!_documentFolder.isEmpty())
        dialog.setDirectory(_documentFolder);
    dialog.selectFile(filename());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;

    // The dialog's type list stands for the format pop-up: it sets the output format.
    const int chosenFormat = formatForNameFilter(dialog.selectedNameFilter());
    if (chosenFormat != _settings->fileFormat())
        _settings->setFileFormat(chosenFormat);

    // A typed extension of an image type gives way to the format's own.
    QString name = dialog.selectedFiles().constFirst();
    const QFileInfo typed(name);
    if (readableExtensions().contains(typed.suffix().toLower()))
        name = typed.dir().filePath(typed.completeBaseName());
    const QString target =
        name + QLatin1Char('.') + TmpFilePath::fileExtensionForFormat(_settings->fileFormat());
    const QFileInfo targetInfo(target);

    if (targetInfo.exists()) {
        QMessageBox ask(QMessageBox::Warning, QStringLiteral("File Exists"),
                        QStringLiteral("Would you like to replace the existing file?"),
                        QMessageBox::NoButton, _mainWindow);
        ask.setWindowModality(Qt::ApplicationModal);
        ask.setInformativeText(target);
        QPushButton* replace = ask.addButton(QStringLiteral("Replace"), QMessageBox::AcceptRole);
        QPushButton* cancel = ask.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        ask.setDefaultButton(replace);
        ask.setEscapeButton(cancel);
        ask.exec();
        if (ask.clickedButton() != replace)
            return;
        // The old file is replaced in one step when the new one is complete, so a failed
        // write leaves it whole.
    }

    QString error;
    const QString written = _previewView->writeImageToFile(target, _settings->fileFormat(),
                                                           _settings->jpegQuality(), false, &error);
    if (written.isEmpty()) {
        QMessageBox failed(QMessageBox::Critical,
                           QStringLiteral("Unable to Save '%1'").arg(targetInfo.completeBaseName()),
                           QStringLiteral("Please check that you have write permission to the "
                                          "folder '%1' and that the disk has enough free space.")
                               .arg(targetInfo.absolutePath()),
                           QMessageBox::NoButton, _mainWindow);
        failed.setWindowModality(Qt::ApplicationModal);
        failed.addButton(QStringLiteral("Okay"), QMessageBox::AcceptRole);
        if (!error.isEmpty())
            failed.setDetailedText(error);
        failed.exec();
        return;
    }
    updateFilesizeForFile(written);
}

void AppController::copy()
{
    if (!_previewView->hasImage())
        return;
    const QString path = _previewView->writeTmpFile();
    auto* mime = new QMimeData;
    // The picture at full size, as in the file: pasting the view-size reduction elsewhere
    // would give a small copy of the photo.
    const QImage full = _previewView->exportRenderer().fullResolutionImage();
    mime->setImageData(full.isNull() ? _previewView->image() : full);
    if (!path.isEmpty()) {
        mime->setText(path);
        mime->setUrls({QUrl::fromLocalFile(path)});
        updateFilesizeForFile(path);
    }
    QGuiApplication::clipboard()->setMimeData(mime);
}

void AppController::_validateCommands()
{
    const bool busy = _isBusy();
    const bool photo = _previewView->hasImage() && !busy;
    for (QAction* action : {_saveAction, _copyAction, _closeAction, _flipAction, _colorsAction})
        action->setEnabled(photo);
    for (QAction* action : {_openAction, _preferencesAction, _drawerAction, _flipMenuAction})
        action->setEnabled(!busy);
}

void AppController::_busyChanged(bool busy)
{
    _validateCommands();
    if (busy)
        return;
    // Queued so that the export's caller finishes before anything new starts.
    QTimer::singleShot(0, this, [this] {
        if (_isBusy())
            return;
        const QStringList files = std::exchange(_pendingFiles, {});
        for (const QString& path : files)
            applicationOpenFile(path);
        if (std::exchange(_closeWhenIdle, false) && _mainWindow)
            _mainWindow->close();
    });
}

bool AppController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == _mainWindow && event->type() == QEvent::Close) {
        if (_isBusy()) {
            _closeWhenIdle = true;
            event->ignore();
            return true;
        }
        // Closing the main window ends the program.
        _saveGeometry();
        _colorPanel->close();
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    return QObject::eventFilter(watched, event);
}

void AppController::applicationShouldTerminate()
{
    if (_terminated)
        return;
    _terminated = true;
    _saveGeometry();
    _defaults.synchronize();
    _previewView->removeTmpFiles();
}
