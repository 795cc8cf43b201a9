#include "TestSupport.h"
#include "app/AboutWindow.h"
#include "app/AppController.h"
#include "app/CommandTable.h"
#include "app/MainInterface.h"
#include "app/OutputPanel.h"
#include "app/SUUpdater.h"
#include "app/WebLinks.h"
#include "compositing/ExportRenderer.h"
#include "compositing/PreviewView.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "foundation/VellumaVersion.h"
#include "foundation/ZTUtility.h"
#include "output/FileFormat.h"
#include "output/OutputSettings.h"
#include "output/ProxyView.h"
#include "output/TestFiles.h"
#include "output/TmpFilePath.h"
#include "ui/BackgroundRunner.h"
#include "ui/ModalAnswer.h"
#include "ui/ToolbarCustomizer.h"
#include "ui/ZTStepper.h"
#include "ui/ZTWindow.h"

#include <QCheckBox>
#include <QClipboard>
#include <QColorDialog>
#include <QComboBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProcess>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

class TestAppController : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void filesizeText_data();
    void filesizeText();
    void titleSuffix_data();
    void titleSuffix();
    void openThenFailureKeepsPreviousPhoto_data();
    void openThenFailureKeepsPreviousPhoto();
    void documentLifecycle();
    void exportFollowsThePreview();
    void windowAndBatchFramerFrameAlike();
    void saveAsksBeforeReplacingTheOriginal();
    void saveDialogNamesAndWrites_data();
    void saveDialogNamesAndWrites();
    void nameStaysInsideTemporaryFolder_data();
    void nameStaysInsideTemporaryFolder();
    void pasteTakesOnlyPictures_data();
    void pasteTakesOnlyPictures();
    void colourTurnsTransparencyOff();
    void formatDisablesControls_data();
    void formatDisablesControls();
    void staleChangesEmptySizeDisplay_data();
    void staleChangesEmptySizeDisplay();
    void sizeLimitSaysWhatItDid();
    void fieldsShowWhatIsUsed_data();
    void fieldsShowWhatIsUsed();
    void commandsFollowTheirRules_data();
    void commandsFollowTheirRules();
    void aboutWindowAndLinks();
    void startUp_data();
    void startUp();
    void proxyPreparesFileOnEntry();
    void toolbarCustomizationComesBack();

private:
    QTemporaryDir _dir;
    std::unique_ptr<UserDefaults> _defaults;
    std::unique_ptr<AppController> _app;
    QString path(const QString& name) const { return _dir.filePath(name); }
    void open(const QString& name) { QVERIFY(_app->applicationOpenFile(writePhoto(path(name)))); }
    bool enabled(const char* command) const
    {
        return _app->interface()->action(QLatin1String(command))->isEnabled();
    }
};

void TestAppController::init()
{
    QVERIFY(_dir.isValid());
    QFile::remove(path(QStringLiteral("prefs.plist")));
    _defaults = std::make_unique<UserDefaults>(path(QStringLiteral("prefs.plist")));
    _app = std::make_unique<AppController>(*_defaults);
}

void TestAppController::cleanup()
{
    _app.reset();
    _defaults.reset();
}

void TestAppController::filesizeText_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing") << qint64(0) << "-";
    QTest::newRow("1023") << qint64(1023) << "1023 bytes";
    QTest::newRow("1024") << qint64(1024) << "1.00 KB";
    QTest::newRow("1048576") << qint64(1048576) << "1.00 MB";
    // Past the 32-bit range the size is still right.
    QTest::newRow("3 GB") << qint64(3) * 1024 * 1024 * 1024 << "3072.00 MB";
}

void TestAppController::filesizeText()
{
    QFETCH(qint64, size);
    QFETCH(QString, text);
    QCOMPARE(AppController::_stringForFilesize(size), text);
}

void TestAppController::titleSuffix_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<QString>("title");
    QTest::newRow("rounded") << 639.6 << 479.5 << "Velluma (640 x 480 pixels)";
    QTest::newRow("rounds to zero") << 0.4 << 300.0 << "Velluma";
}

void TestAppController::titleSuffix()
{
    QFETCH(double, width);
    QFETCH(double, height);
    QFETCH(QString, title);
    _app->setDimension(123, 45);
    _app->setDimension(width, height);
    QCOMPARE(_app->mainWindow()->windowTitle(), title);
}

void TestAppController::openThenFailureKeepsPreviousPhoto_data()
{
    QTest::addColumn<QString>("via");
    QTest::addColumn<QString>("bad");
    for (const char* via : {"open", "drop", "hand over"})
        QTest::newRow(via) << QString(via) << QStringLiteral("notes.txt");
    QTest::newRow("opened, missing") << QStringLiteral("open") << QStringLiteral("gone.jpg");
}

void TestAppController::openThenFailureKeepsPreviousPhoto()
{
    QFETCH(QString, via);
    QFETCH(QString, bad);
    _app->mainWindow()->show();
    QVERIFY(QTest::qWaitForWindowExposed(_app->mainWindow()));
    PreviewView* preview = _app->previewView();
    auto openFile = [&](const QString& file) {
        if (via == "drop")
            return dropOn(preview, *std::unique_ptr<QMimeData>(fileMime({file}))).entered;
        if (via == "open")
            return _app->applicationOpenFile(file);
        _app->openFiles({QFile::encodeName(file)});
        return true;
    };

    _app->outputPanel()->filesizeField()->setText(QStringLiteral("12 bytes"));
    QVERIFY(openFile(writePhoto(path("Beach.day.png"), QSize(64, 48))));
    const QString title = _app->mainWindow()->windowTitle();
    QVERIFY2(title.contains(QStringLiteral("64 x 48")), qPrintable(title));
    QCOMPARE(_app->filename(), QStringLiteral("Beach.day"));
    QCOMPARE(preview->mainImage().size(), QSize(64, 48));
    QCOMPARE(_app->outputPanel()->filesizeField()->text(), QString());
    const bool hadMetadata = _app->imageMetadata().isEmpty();

    SheetCatcher sheets(QString(), _app->mainWindow());
    QVERIFY(writeBytes(path(QStringLiteral("notes.txt")), "shopping list\n"));
    QCOMPARE(openFile(path(bad)), via != "open");
    QVERIFY(sheets.shown());
    QCOMPARE(sheets.last().informative,
             QStringLiteral("This is probably because it is not an image file."));
    QCOMPARE(_app->filename(), QStringLiteral("Beach.day"));
    QCOMPARE(preview->mainImage().pixel(3, 3), QColor(Qt::blue).rgb());
    QCOMPARE(_app->mainWindow()->windowTitle(), title);
    QCOMPARE(_app->imageMetadata().isEmpty(), hadMetadata);
}

void TestAppController::documentLifecycle()
{
    // A second photo keeps the frame, its colour and the flip.
    const QString framePath = path(QStringLiteral("Oval.png"));
    QVERIFY(solid(30, 20, Qt::transparent).save(framePath));
    open(QStringLiteral("one.png"));
    _app->setBorderPath(framePath);
    _app->setColor(QColor(Qt::darkRed));
    _app->flipHorizontal();
    open(QStringLiteral("two.png"));
    QCOMPARE(_app->borderPath(), framePath);
    QVERIFY(_app->shouldFlipHorizontal());
    QCOMPARE(_app->previewView()->borderColor(), std::optional<QColor>(QColor(Qt::darkRed)));
    QCOMPARE(_app->filename(), QStringLiteral("two"));

    _app->showColorPanel();
    QVERIFY(_app->colorPanel()->isVisible());
    _app->closeImage();
    QCOMPARE(_app->mainWindow()->windowTitle(), QStringLiteral("Velluma"));
    QVERIFY(!_app->previewView()->hasImage());
    QCOMPARE(_app->filename(), QString());
    QVERIFY(_app->imageMetadata().isEmpty());
    QVERIFY(!_app->colorPanel()->isVisible());
    QVERIFY(!enabled("save"));

    // The sanitizer build runs this under LeakSanitizer: memory lost by any one cycle of
    // what a session does with photos (open, frame, write, close) is reported at the end.
    const QString photos[] = {writePhoto(path(QStringLiteral("a.jpg")), QSize(300, 200)),
                              writePhoto(path(QStringLiteral("b.png")), QSize(200, 300))};
    for (int cycle = 0; cycle < 50; ++cycle) {
        QVERIFY(_app->applicationOpenFile(photos[cycle % 2]));
        QString error;
        QVERIFY2(!_app->writeTmpFile(&error).isEmpty(), qPrintable(error));
        _app->closeImage();
    }

    // Quitting removes the temporary files and keeps the window's place.
    open(QStringLiteral("one.png"));
    const QString folder = QFileInfo(_app->writeTmpFile()).absolutePath();
    QVERIFY(QFileInfo(folder).isDir() && !folder.startsWith(_dir.path()));
    _app->applicationShouldTerminate();
    QVERIFY(!QFileInfo::exists(folder));
    QVERIFY(!_defaults->stringForKey(QStringLiteral("mainWindow")).isEmpty());
}

void TestAppController::exportFollowsThePreview()
{
    // What the preview holds is what the export writes: a frame set on the preview alone,
    // with no word to the renderer, shows in the next file.
    open(QStringLiteral("one.png"));
    const QString target = path(QStringLiteral("out.png"));
    QList<bool> busyStates;
    QString nested = QStringLiteral("not asked");
    bool commandsOn = true;
    BackgroundRunner* runner = _app->findChild<BackgroundRunner*>();
    QVERIFY(runner);
    connect(runner, &BackgroundRunner::busyChanged, this, [&](bool isBusy) {
        busyStates << isBusy;
        // A second export asked for meanwhile is refused, and nothing invites one.
        if (isBusy) {
            nested =
                _app->writeImageToFile(path(QStringLiteral("second.png")), FileFormat::Png, 90);
            commandsOn = enabled("save") || enabled("copy") || enabled("open");
        }
    });
    QCOMPARE(_app->writeImageToFile(target, FileFormat::Png, 90), target);
    QCOMPARE(busyStates, (QList<bool>{true, false}));
    QVERIFY(nested.isEmpty());
    QVERIFY(!commandsOn);
    QVERIFY(!QFile::exists(path(QStringLiteral("second.png"))));
    QCOMPARE(QImage(target).pixel(30, 20), QColor(Qt::blue).rgb());

    _app->previewView()->setBorderImage(solid(60, 40, QColor(200, 10, 10)));
    QCOMPARE(_app->writeImageToFile(target, FileFormat::Png, 90), target);
    QCOMPARE(QImage(target).pixel(30, 20), qRgb(200, 10, 10));

    // Without a photo nothing is written.
    _app->closeImage();
    QVERIFY(_app->writeTmpFile().isEmpty());
}

void TestAppController::windowAndBatchFramerFrameAlike()
{
    // A JPEG frame stored 40 x 20, its top half white, whose EXIF turns it upright to
    // 20 x 40 with the white half on the right. Without turning to fit the photo, both read
    // it upright; read as stored, the white half would be on top.
    QImage stored = solid(40, 20, Qt::black, QImage::Format_RGB32);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 40; ++x)
            stored.setPixel(x, y, qRgb(255, 255, 255));
    const QString framePath = path(QStringLiteral("Turned.jpg"));
    QVERIFY(stored.save(framePath, "JPEG", 100));
    setTags(framePath, {{"Exif.Image.Orientation", "6"}});
    _defaults->setBool(false, DefAutoRotateBorder);
    const QString photoPath = writePhoto(path(QStringLiteral("wide.png")), QSize(90, 50));

    QVERIFY(_app->applicationOpenFile(photoPath));
    _app->setBorderPath(framePath);
    const QString fromWindow = path(QStringLiteral("window.png"));
    QCOMPARE(_app->writeImageToFile(fromWindow, FileFormat::Png, 90), fromWindow);

    const QString outFolder = path(QStringLiteral("batch"));
    QProcess batch;
    batch.start(QStringLiteral(VELLUMA_FRAME_BINARY),
                {"-f", framePath, "-F", "png", "--no-rotate", "-o", outFolder, photoPath});
    QVERIFY(batch.waitForFinished(30000));
    QCOMPARE(batch.exitCode(), 0);
    const QImage window = QImage(fromWindow).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(window.size(), QSize(90, 50));
    QVERIFY(window == QImage(outFolder + "/wide.png").convertToFormat(QImage::Format_ARGB32));
    QCOMPARE(window.pixel(85, 25), qRgb(255, 255, 255));
    QCOMPARE(window.pixel(5, 5), QColor(Qt::blue).rgb());
}

void TestAppController::saveAsksBeforeReplacingTheOriginal()
{
    // Save, Return, Return: the dialog proposes the photo's own name in its folder, and the
    // question that follows must not replace the photo by default. The export is red.
    const QString original = writePhoto(path(QStringLiteral("one.png")));
    QVERIFY(_app->applicationOpenFile(original));
    _app->outputSettings()->setFileFormat(FileFormat::Png);
    _app->previewView()->setBorderImage(solid(60, 40, Qt::red));
    QString folder;
    // Answers the save dialog with `file` (or as proposed), a question that follows with
    // its default button, and returns the question.
    auto save = [&](const QString& file) {
        whenModalShown([&folder, file](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            QVERIFY(dialog);
            folder = dialog->directory().absolutePath();
            if (!file.isEmpty())
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(file);
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        SheetCatcher sheets;
        _app->saveDocumentAs();
        return sheets.last();
    };
    QVERIFY(save(QString()).informative.contains(QStringLiteral("original photo")));
    QCOMPARE(folder, _dir.path());
    QCOMPARE(QImage(original).pixel(1, 1), QColor(Qt::blue).rgb());

    // Any other file is asked about too, and replaced by default.
    const QString other = writePhoto(path(QStringLiteral("other.png")), QSize(5, 5));
    QVERIFY(!save(other).text.isEmpty());
    QCOMPARE(QImage(other).pixel(1, 1), QColor(Qt::red).rgb());

    // The folder saved into last is where the next run's dialog starts.
    QVERIFY(QDir(_dir.path()).mkdir(QStringLiteral("saved")));
    QVERIFY(save(path(QStringLiteral("saved/framed"))).text.isEmpty());
    QVERIFY(QFile::exists(path(QStringLiteral("saved/framed.png"))));
    _app = std::make_unique<AppController>(*_defaults);
    QVERIFY(_app->applicationOpenFile(original));
    whenModalShown([&folder](QWidget* modal) {
        folder = qobject_cast<QFileDialog*>(modal)->directory().absolutePath();
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    _app->saveDocumentAs();
    QCOMPARE(folder, path(QStringLiteral("saved")));
}

void TestAppController::saveDialogNamesAndWrites_data()
{
    // The settings say JPEG at quality 80.
    QTest::addColumn<QString>("entered");
    QTest::addColumn<int>("chosenFormat"); // picked in the dialog's pop-up; 0: left alone
    QTest::addColumn<QString>("typedQuality");
    QTest::addColumn<QString>("saved");
    QTest::addColumn<int>("quality");
    const auto row = [](const char* name, const char* entered, int format, const char* typed,
                        const char* saved, int quality) {
        QTest::newRow(name) << QString(entered) << format << QString(typed) << QString(saved)
                            << quality;
    };
    row("image extension dropped", "Beach.JPG", 0, "", "Beach.jpg", 80);
    row("other type's extension too", "Beach.png", 0, "", "Beach.jpg", 80);
    row("other extension kept", "Beach.final", 0, "", "Beach.final.jpg", 80);
    row("TIFF in the pop-up", "Beach", codeForFileFormat(FileFormat::Tiff), "", "Beach.tiff", 80);
    row("PNG in the pop-up", "Beach.jpg", codeForFileFormat(FileFormat::Png), "", "Beach.png", 80);
    row("quality of the dialog", "Beach", 0, "55", "Beach.jpg", 55);
}

void TestAppController::saveDialogNamesAndWrites()
{
    QFETCH(QString, entered);
    QFETCH(int, chosenFormat);
    QFETCH(QString, typedQuality);
    QFETCH(QString, saved);
    QFETCH(int, quality);
    QDir folder(_dir.path());
    for (const QString& earlier : folder.entryList({QStringLiteral("Beach*")}))
        QVERIFY(folder.remove(earlier));
    QVERIFY(noisePhoto(64, 48).save(path(QStringLiteral("noise.png"))));
    QVERIFY(_app->applicationOpenFile(path(QStringLiteral("noise.png"))));
    OutputSettings* settings = _app->outputSettings();
    settings->setFileFormat(FileFormat::Jpeg);
    settings->setJpegQuality(80);
    const int code = chosenFormat ? chosenFormat : codeForFileFormat(FileFormat::Jpeg);
    const FileFormat format = fileFormatForCode(code);
    int tag = 0, mainTag = 0, formatControls = 0;
    QString shownQuality;
    bool qualityEnabled = false;
    whenModalShown([&](QWidget* modal) {
        auto* pop = modal->findChild<QComboBox*>(QStringLiteral("savePanelFileFormatPop"));
        auto* field = modal->findChild<QLineEdit*>(QStringLiteral("savePanelQualityTF"));
        QVERIFY(pop && field);
        tag = pop->currentData().toInt();
        shownQuality = field->text();
        // The folder's pop-up aside, the format is the only choice offered by a pop-up.
        for (auto* combo : modal->findChildren<QComboBox*>())
            formatControls += combo->isVisibleTo(modal) && combo->objectName() != "lookInCombo";
        if (chosenFormat)
            pop->setCurrentIndex(pop->findData(chosenFormat));
        mainTag = _app->outputPanel()->formatPopUp()->currentData().toInt();
        qualityEnabled =
            field->isEnabled() &&
            modal->findChild<ZTStepper*>(QStringLiteral("savePanelQualityStepper"))->isEnabled();
        if (!typedQuality.isEmpty())
            field->setText(typedQuality);
        modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path(entered));
        QTest::keyClick(modal, Qt::Key_Return);
    });
    _app->saveDocumentAs();
    QCOMPARE(tag, codeForFileFormat(FileFormat::Jpeg));
    QCOMPARE(formatControls, 1);
    QCOMPARE(shownQuality, QStringLiteral("80"));
    QCOMPARE(mainTag, code);
    QCOMPARE(qualityEnabled, format == FileFormat::Jpeg);
    QCOMPARE(settings->fileFormat(), format);
    QCOMPARE(settings->jpegQuality(), 80);
    QCOMPARE(folder.entryList({QStringLiteral("Beach*")}), QStringList{saved});
    // The file is what writing at that quality gives, and not what the setting would give.
    const QString expected =
        _app->writeImageToFile(path(QStringLiteral("expected")), format, quality);
    QCOMPARE(readAll(path(saved)), readAll(expected));
    if (format == FileFormat::Jpeg)
        QVERIFY(readAll(expected) != readAll(_app->writeImageToFile(path(QStringLiteral("other")),
                                                                    format, 135 - quality)));
}

void TestAppController::nameStaysInsideTemporaryFolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("an existing file's path")
        << path(QStringLiteral("notes.txt")) << path(QStringLiteral("notes.txt")).replace('/', '_');
    for (const auto& [name, file] :
         {std::pair{"~/notes", "~_notes"}, std::pair{"..", "__"}, std::pair{"", "Untitled"}})
        QTest::newRow(name) << QString(name) << QString(file);
}

void TestAppController::nameStaysInsideTemporaryFolder()
{
    // Whatever the name field holds, copy writes inside our temporary folder and leaves
    // the user's files alone.
    QFETCH(QString, name);
    QFETCH(QString, fileName);
    const QString notes = path(QStringLiteral("notes.txt"));
    QVERIFY(writeBytes(notes, "shopping list\n"));
    QVERIFY(_app->applicationOpenFile(writePhoto(path("one.png"), QSize(2400, 1600))));
    _app->outputPanel()->filenameField()->setText(name);
    _app->copy();
    QCOMPARE(readAll(notes), QByteArray("shopping list\n"));
    const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
    const QList<QUrl> urls = copied->urls();
    QCOMPARE(urls.size(), 1);
    QCOMPARE(urls.first().toLocalFile(), TmpFilePath::tmpFolder() + "/" + fileName + ".jpg");
    QCOMPARE(copied->text(), urls.first().toLocalFile());
    // The picture as shown goes as image data, quick to paste; the full size is the file.
    QCOMPARE(qvariant_cast<QImage>(copied->imageData()), _app->previewView()->image());
    QVERIFY(_app->previewView()->image().width() < 2400);
    QCOMPARE(QImage(copied->text()).size(), QSize(2400, 1600));
}

void TestAppController::pasteTakesOnlyPictures_data()
{
    QTest::addColumn<bool>("photoOpen"); // 60 x 40, named "tagged", with an artist tag
    QTest::addColumn<bool>("picture");   // else text only on the clipboard
    QTest::addColumn<QSize>("shown");
    QTest::newRow("picture over a photo") << true << true << QSize(30, 20);
    QTest::newRow("text over a photo") << true << false << QSize(60, 40);
    QTest::newRow("picture, no photo") << false << true << QSize(30, 20);
    QTest::newRow("text, no photo") << false << false << QSize(0, 0);
}

void TestAppController::pasteTakesOnlyPictures()
{
    QFETCH(bool, photoOpen);
    QFETCH(bool, picture);
    QFETCH(QSize, shown);
    if (photoOpen) {
        const QString tagged = path(QStringLiteral("tagged.jpg"));
        QVERIFY(gradientPhoto(60, 40).save(tagged));
        setTags(tagged, {{"Exif.Image.Artist", "Ann"}});
        QVERIFY(_app->applicationOpenFile(tagged));
    }
    auto* mime = new QMimeData;
    if (picture)
        mime->setImageData(solid(30, 20, Qt::red, QImage::Format_RGB32));
    else
        mime->setText(QStringLiteral("shopping list"));
    QGuiApplication::clipboard()->setMimeData(mime);
    _app->paste();
    QCOMPARE(_app->previewView()->framedPhoto().photo.size(), shown);
    // The name and metadata are those of the photo opened before, or none.
    QCOMPARE(_app->filename(), photoOpen ? QStringLiteral("tagged") : QString());
    QCOMPARE(_app->imageMetadata().value(QStringLiteral("Exif.Image.Artist")),
             photoOpen ? QStringLiteral("Ann") : QString());
    for (const char* command : {"save", "copy", "close", "colors", "flipH"})
        QVERIFY2(enabled(command) == !shown.isEmpty(), command);
    // A picture pasted is a document: copy hands it on as a file.
    if (!shown.isEmpty()) {
        _app->copy();
        const QList<QUrl> urls = QGuiApplication::clipboard()->mimeData()->urls();
        QCOMPARE(urls.size(), 1);
        QCOMPARE(QImage(urls.first().toLocalFile()).size(), shown);
    }
}

void TestAppController::colourTurnsTransparencyOff()
{
    OutputSettings* settings = _app->outputSettings();
    QCheckBox* transparent = _app->outputPanel()->transparentBackgroundBox();
    PreviewView* preview = _app->previewView();
    open(QStringLiteral("one.png"));
    settings->setFileFormat(FileFormat::Png);
    settings->setTransparentBackground(true);
    QVERIFY(!preview->borderColor().has_value());
    QVERIFY(transparent->isChecked());

    _app->setColor(QColor(10, 20, 30));
    QVERIFY(!settings->transparentBackground());
    QVERIFY(!transparent->isChecked());
    QCOMPARE(preview->borderColor(), std::optional<QColor>(QColor(10, 20, 30)));

    // Back to transparent and to the colour again: the chosen colour returns.
    transparent->click();
    QVERIFY(!preview->borderColor().has_value());
    transparent->click();
    QCOMPARE(preview->borderColor(), std::optional<QColor>(QColor(10, 20, 30)));
}

void TestAppController::formatDisablesControls_data()
{
    QTest::addColumn<FileFormat>("format");
    QTest::addColumn<bool>("quality");
    QTest::addColumn<bool>("transparent");
    QTest::addColumn<bool>("metadata");
    QTest::newRow("JPEG") << FileFormat::Jpeg << true << false << true;
    QTest::newRow("PNG") << FileFormat::Png << false << true << false;
    QTest::newRow("TIFF") << FileFormat::Tiff << false << true << true;
}

void TestAppController::formatDisablesControls()
{
    QFETCH(FileFormat, format);
    QFETCH(bool, quality);
    QFETCH(bool, transparent);
    QFETCH(bool, metadata);
    OutputPanel* panel = _app->outputPanel();
    // Chosen in the pop-up, as the user would.
    panel->formatPopUp()->setCurrentIndex(
        panel->formatPopUp()->findData(codeForFileFormat(format)));
    QCOMPARE(_app->outputSettings()->fileFormat(), format);
    QCOMPARE(_defaults->integerForKey(DefFileFormat), codeForFileFormat(format));
    QCOMPARE(panel->qualityField()->isEnabled(), quality);
    QCOMPARE(panel->qualityStepper()->isEnabled(), quality);
    QCOMPARE(panel->limitFilesizeBox()->isEnabled(), quality);
    QCOMPARE(panel->transparentBackgroundBox()->isEnabled(), transparent);
    QCOMPARE(panel->preserveMetadataBox()->isEnabled(), metadata);

    // And the other way: the model moves the pop-up, and the document icon follows.
    ProxyView* proxy = _app->interface()->proxyView();
    const qint64 icon = proxy->image().cacheKey();
    _app->outputSettings()->setFileFormat(format == FileFormat::Jpeg ? FileFormat::Png
                                                                     : FileFormat::Jpeg);
    QCOMPARE(panel->formatPopUp()->currentData().toInt(),
             codeForFileFormat(_app->outputSettings()->fileFormat()));
    QVERIFY(!proxy->image().isNull());
    QVERIFY(proxy->image().cacheKey() != icon);
}

void TestAppController::staleChangesEmptySizeDisplay_data()
{
    QTest::addColumn<QString>("change");
    for (const char* change : {"format", "quality", "limit", "limitKB", "transparent", "metadata",
                               "colour", "frame", "flip", "photo", "rewritten"})
        QTest::newRow(change) << change;
}

void TestAppController::staleChangesEmptySizeDisplay()
{
    QFETCH(QString, change);
    open(QStringLiteral("one.png"));
    PreviewView* preview = _app->previewView();
    const FramedPhoto before = preview->framedPhoto();
    const ExportRenderer::Options options = _app->exportOptions();
    const QString written = _app->writeTmpFile();
    QVERIFY(!written.isEmpty());
    QVERIFY(_app->exportRenderer().isValidCacheAtPath(written, before, options));
    _app->updateFilesizeForFile(written);
    QVERIFY(!_app->outputPanel()->filesizeField()->text().isEmpty());

    OutputSettings* settings = _app->outputSettings();
    OutputPanel* panel = _app->outputPanel();
    if (change == "format")
        settings->setFileFormat(FileFormat::Tiff);
    else if (change == "quality")
        settings->setJpegQuality(55);
    else if (change == "limit")
        panel->limitFilesizeBox()->click();
    else if (change == "limitKB")
        _defaults->setInteger(321, DefFilesizeLimit);
    else if (change == "transparent")
        settings->setTransparentBackground(true);
    else if (change == "metadata")
        panel->preserveMetadataBox()->click();
    else if (change == "colour")
        _app->setColor(QColor(Qt::yellow));
    else if (change == "frame")
        _app->setBorderPath(QString());
    else if (change == "flip")
        _app->flipHorizontal();
    else if (change == "photo")
        open(QStringLiteral("two.png"));
    else if (change == "rewritten") // by someone else, under the same name
        QVERIFY(writeBytes(written, "not ours"));

    if (change != "rewritten")
        QCOMPARE(panel->filesizeField()->text(), QString());
    // The written-file flag went down, even for the document and options it was written from.
    QVERIFY(!_app->exportRenderer().isValidCacheAtPath(written, before, options));
}

void TestAppController::sizeLimitSaysWhatItDid()
{
    // Noise does not fit 20 KB at quality 90: the panel still says 90, so the size display
    // and the status line say what was used.
    const QString noisy = path(QStringLiteral("noise.png"));
    QVERIFY(noisePhoto(200, 200).save(noisy));
    QVERIFY(_app->applicationOpenFile(noisy));
    _app->outputSettings()->setJpegQuality(90);
    _defaults->setInteger(20, DefFilesizeLimit);
    _app->outputSettings()->setLimitFilesize(true);
    _app->copy();
    const QString note = _app->outputPanel()->filesizeField()->toolTip();
    QVERIFY2(note.startsWith(QStringLiteral("Saved at quality ")), qPrintable(note));
    QVERIFY(note.endsWith(QStringLiteral(" to stay under 20 KB")));
    QCOMPARE(_app->mainWindow()->statusBar()->currentMessage(), note);
    QCOMPARE(_app->outputSettings()->jpegQuality(), 90);

    // No quality fits 1 KB: copy says so as save does.
    _defaults->setInteger(1, DefFilesizeLimit);
    SheetCatcher sheets(QString(), _app->mainWindow());
    _app->copy();
    QCOMPARE(sheets.last().informative,
             QStringLiteral("No JPEG quality brings the picture under 1 KB."));
    QVERIFY(_app->mainWindow()->statusBar()->currentMessage().isEmpty());
}

void TestAppController::fieldsShowWhatIsUsed_data()
{
    QTest::addColumn<bool>("quality"); // else the size limit field
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("then");
    QTest::addColumn<int>("used");
    // Quality in use 85, limit 400 KB.
    const auto row = [](bool quality, const char* typed, const char* then, int used) {
        QTest::addRow("%s '%s', %s", quality ? "quality" : "limit", typed, then)
            << quality << QString(typed) << QString(then) << used;
    };
    row(true, "0", "tab", 85);
    row(true, "150", "return", 100);
    row(true, "", "tab", 85);
    row(true, "10", "copy", 10); // without Return
    row(false, "0", "tab", 400);
    row(false, "9999999", "return", 1048576);
    row(false, "90", "copy", 90);
}

void TestAppController::fieldsShowWhatIsUsed()
{
    QFETCH(bool, quality);
    QFETCH(QString, typed);
    QFETCH(QString, then);
    QFETCH(int, used);
    OutputSettings* settings = _app->outputSettings();
    settings->setJpegQuality(85);
    _defaults->setInteger(400, DefFilesizeLimit);
    settings->setLimitFilesize(true);
    open(QStringLiteral("one.png"));
    ZTWindow* window = _app->mainWindow();
    window->show();
    QApplication::setActiveWindow(window);
    QVERIFY(QTest::qWaitForWindowActive(window));
    QLineEdit* field =
        quality ? _app->outputPanel()->qualityField() : _app->outputPanel()->filesizeLimitField();
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, typed);
    if (then == "tab")
        QTest::keyClick(field, Qt::Key_Tab);
    else if (then == "return")
        QTest::keyClick(field, Qt::Key_Return);
    else
        _app->copy();
    QCOMPARE(quality ? settings->jpegQuality() : settings->filesizeLimit(), used);
    QCOMPARE(field->text(), QString::number(used));
    if (quality)
        QCOMPARE(_app->outputPanel()->qualityStepper()->value(), used);
    else
        QCOMPARE(_defaults->integerForKey(DefFilesizeLimit), used);
}

void TestAppController::commandsFollowTheirRules_data()
{
    QTest::addColumn<bool>("photo");
    QTest::addColumn<uint>("system");
    QTest::addColumn<bool>("browser"); // the photo browser is installed
    QTest::addColumn<QStringList>("disabled");
    const QStringList needPhoto = {"save",          "close",           "copy", "colors", "flipH",
                                   "sendToTrimlet", "sendToShuttlebox"};
    QTest::newRow("no photo") << false << 0x1058u << true << needPhoto;
    QTest::newRow("photo") << true << 0x1058u << true << QStringList();
    QTest::newRow("no browser") << true << 0x1058u << false << QStringList{"photoBrowser"};
    QTest::newRow("older system") << false << 0x1049u << true
                                  << needPhoto + QStringList{"photoBrowser"};
}

void TestAppController::commandsFollowTheirRules()
{
    QFETCH(bool, photo);
    QFETCH(uint, system);
    QFETCH(bool, browser);
    QFETCH(QStringList, disabled);
    ZTUtility::setVersionQuery([system](uint32_t* version) {
        *version = system;
        return true;
    });
    const auto restore = qScopeGuard([] { ZTUtility::setVersionQuery({}); });
    MainInterface* interface = _app->interface();
    interface->setPhotoBrowserAvailable(browser);
    if (photo)
        open(QStringLiteral("one.png"));
    QStringList off;
    for (const CommandTable::Command& command : CommandTable::commands()) {
        if (!enabled(command.identifier))
            off << QLatin1String(command.identifier);
    }
    off.sort();
    disabled.sort();
    QCOMPARE(off, disabled);
    // Only where the system is the reason does the item say why.
    QCOMPARE(
        interface->action(QStringLiteral("photoBrowser"))->toolTip() ==
            QCoreApplication::translate("CommandTable", CommandTable::kPhotoBrowserVersionToolTip),
        system < 0x1050);
    // Every item of a menu has a mnemonic of its own; the colours say so as the toolbar does.
    for (QAction* menu : _app->mainWindow()->menuBar()->actions()) {
        QSet<QChar> keys;
        for (QAction* item : menu->menu()->actions()) {
            const qsizetype amp = item->text().indexOf(QLatin1Char('&'));
            const QChar key = amp < 0 ? QChar() : item->text().at(amp + 1).toLower();
            QVERIFY2(key.isNull() || !keys.contains(key), qPrintable(item->text()));
            keys.insert(key);
        }
    }
    QAction* colors = interface->action(QStringLiteral("colors"));
    QVERIFY(colors->text().remove(QLatin1Char('&')).endsWith(colors->iconText()));
    // Nothing to send to until destinations are set up.
    QVERIFY(!interface->menu(QStringLiteral("SendTo"))->isEnabled());
}

void TestAppController::aboutWindowAndLinks()
{
    MainInterface* interface = _app->interface();
    interface->action(QStringLiteral("about"))->trigger();
    auto* about = _app->mainWindow()->findChild<AboutWindow*>();
    QVERIFY(about && about->isVisible());
    QVERIFY(about->findChild<QLabel*>(QStringLiteral("versionLabel"))
                ->text()
                .endsWith(QStringLiteral(" " VELLUMA_VERSION)));
    LinkCatcher desktop;
    interface->action(QStringLiteral("website"))->trigger();
    interface->action(QStringLiteral("feedback"))->trigger();
    emit about->findChild<QLabel*>(QStringLiteral("linksLabel"))
        ->linkActivated(WebLinks::contactUrl().toString());
    const QList<QUrl> expected = {WebLinks::websiteUrl(), WebLinks::contactUrl(),
                                  WebLinks::contactUrl()};
    QCOMPARE(desktop.opened, expected);
    QCOMPARE(WebLinks::contactUrl().scheme(), QStringLiteral("mailto"));
}

void TestAppController::startUp_data()
{
    // What the user stored before this launch; "unset" means never stored.
    QTest::addColumn<QString>("updaterCheck");
    QTest::addColumn<QString>("ownCheck");
    QTest::addColumn<bool>("checks");
    // The updater's own setting is taken over although the factory defaults carry ours.
    const auto row = [](const char* updater, const char* own, bool checks) {
        QTest::addRow("updater %s, here %s", updater, own)
            << QString(updater) << QString(own) << checks;
    };
    row("yes", "unset", true);
    row("unset", "unset", false);
    row("yes", "no", false);
    row("no", "yes", true);
}

void TestAppController::startUp()
{
    QFETCH(QString, updaterCheck);
    QFETCH(QString, ownCheck);
    QFETCH(bool, checks);
    _app.reset();
    for (const auto& [key, value] : {std::pair{DefSUCheckAtStartup, updaterCheck},
                                     std::pair{DefCheckForUpdatesAtStartup, ownCheck}}) {
        if (value == "unset")
            _defaults->removeObjectForKey(key);
        else
            _defaults->setBool(value == "yes", key);
    }
    _app = std::make_unique<AppController>(*_defaults);
    QCOMPARE(_defaults->boolForKey(DefSUCheckAtStartup), false);
    QCOMPARE(_defaults->boolForKey(DefCheckForUpdatesAtStartup), checks);
    QVERIFY(!(_app->drawer()->features() & QDockWidget::DockWidgetClosable));

    // No feed: each check ends at once, so the second launch can start its own.
    _defaults->setString(QString(), DefSUFeedURL);
    QSignalSpy check(_app->updater(), &SUUpdater::checkStarted);
    _app->applicationDidFinishLaunching();
    _app->applicationDidFinishLaunching();
    QCOMPARE(_defaults->integerForKey(DefLaunchCount), 2);
    QCOMPARE(check.count(), checks ? 2 : 0);

    // The next start changes nothing before it counts the launch, so writes nothing.
    _app.reset();
    QFile file(_defaults->filePath());
    const QDateTime longAgo(QDate(2001, 1, 1), QTime(0, 0));
    QVERIFY(file.open(QIODevice::ReadWrite) &&
            file.setFileTime(longAgo, QFile::FileModificationTime));
    file.close();
    _app = std::make_unique<AppController>(*_defaults);
    QCOMPARE(QFileInfo(file).lastModified(), longAgo);
}

void TestAppController::proxyPreparesFileOnEntry()
{
    ProxyView* proxy = _app->interface()->proxyView();
    auto enter = [proxy] {
        QEnterEvent event(QPointF(4, 4), QPointF(4, 4), QPointF(4, 4));
        QCoreApplication::sendEvent(proxy, &event);
        return proxy->tmpPath();
    };
    QVERIFY(!proxy->isEnabled());
    QCOMPARE(enter(), QString());

    open(QStringLiteral("Beach.png"));
    QVERIFY(proxy->isEnabled());
    _app->outputSettings()->setFileFormat(FileFormat::Jpeg);
    const QString jpeg = enter();
    QVERIFY(jpeg.endsWith(QLatin1String("Beach.jpg")));
    QCOMPARE(enter(), jpeg);
    _app->outputSettings()->setFileFormat(FileFormat::Png);
    const QString png = enter();
    QVERIFY(png.endsWith(QLatin1String("Beach.png")));
    QCOMPARE(QImage(png).size(), QSize(60, 40));
    QVERIFY(!QFile::exists(jpeg));

    // The document icon is a source of files, never a target.
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(png)});
    QVERIFY(!dropOn(proxy, mime).entered);

    _app->closeImage();
    QVERIFY(!proxy->isEnabled());
    QCOMPARE(proxy->toolTip(), QString());
    QCOMPARE(enter(), QString());
    QVERIFY(!QFile::exists(png));
}

void TestAppController::toolbarCustomizationComesBack()
{
    MainInterface* interface = _app->interface();
    const QStringList defaults = interface->toolbarItems();
    QCOMPARE(_app->toolBar()->actions().size(), defaults.size());
    for (QAction* item : _app->toolBar()->actions())
        QVERIFY(item->isSeparator() || item->objectName().isEmpty() || !item->icon().isNull());

    _app->runCustomizationPalette();
    ToolbarCustomizer* customizer = interface->toolbarCustomizer();
    QVERIFY(customizer && customizer->isVisible());
    // Nothing runs while the toolbar is edited.
    for (const CommandTable::Command& command : CommandTable::commands())
        QVERIFY2(!enabled(command.identifier), command.identifier);
    const QString removed = defaults.at(2);
    customizer->removeRow(2);
    QVERIFY(!customizer->addItem(defaults.at(0))); // already there
    QVERIFY(customizer->addItem(removed));
    QVERIFY(customizer->addItem(CommandTable::kSeparator));
    QVERIFY(customizer->available().contains(CommandTable::kSeparator));
    customizer->moveRow(9, 0);
    customizer->accept();
    QStringList chosen = defaults;
    chosen.removeAt(2);
    chosen << removed << CommandTable::kSeparator;
    chosen.move(9, 0);
    QCOMPARE(interface->toolbarItems(), chosen);
    QCOMPARE(_app->toolBar()->actions().size(), chosen.size());
    QVERIFY(enabled("open"));

    // The next start shows the user's toolbar; back to the default set, nothing is kept.
    _app.reset();
    _defaults->synchronize();
    _defaults = std::make_unique<UserDefaults>(path(QStringLiteral("prefs.plist")));
    _app = std::make_unique<AppController>(*_defaults);
    QCOMPARE(_app->interface()->toolbarItems(), chosen);
    _app->runCustomizationPalette();
    _app->interface()->toolbarCustomizer()->useDefaultSet();
    _app->interface()->toolbarCustomizer()->accept();
    QCOMPARE(_app->interface()->toolbarItems(), defaults);
    QVERIFY(!_defaults->hasStoredValue(QLatin1String(CommandTable::kToolbarIdentifier)));

    // An item of another version keeps its place, on the toolbar and through the dialog.
    const QStringList later = {"ZTOpen", "ZTLater", "ZTSave"};
    _defaults->setObject(later, QLatin1String(CommandTable::kToolbarIdentifier));
    _app.reset();
    _app = std::make_unique<AppController>(*_defaults);
    QCOMPARE(_app->toolBar()->actions().size(), 3);
    _app->runCustomizationPalette();
    _app->interface()->toolbarCustomizer()->accept();
    QCOMPARE(_app->interface()->toolbarItems(), later);
}

QTEST_MAIN(TestAppController)
#include "moc_TestSupport.cpp"
#include "test_appcontroller.moc"
