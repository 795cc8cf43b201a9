#include "TestSupport.h"
#include "app/AppController.h"
#include "app/CompanionController.h"
#include "app/MainInterface.h"
#include "app/OutputController.h"
#include "app/OutputPanel.h"
#include "app/SUUpdater.h"
#include "compositing/Document.h"
#include "foundation/CommandTable.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "output/FileFormat.h"
#include "output/OutputSettings.h"
#include "output/TestFiles.h"
#include "output/TmpFilePath.h"
#include "ui/BackgroundRunner.h"
#include "ui/ModalAnswer.h"
#include "ui/PreviewView.h"
#include "ui/ProxyView.h"
#include "ui/ToolbarCustomizer.h"
#include "ui/ZTStepper.h"
#include "ui/ZTWindow.h"

#include <QCheckBox>
#include <QClipboard>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <functional>
#include <map>

using Rule = CommandTable::Rule;

class TestAppController : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void openThenFailureKeepsPreviousPhoto_data();
    void openThenFailureKeepsPreviousPhoto();
    void documentLifecycle();
    void exportFollowsThePreview();
    void windowAndBatchFramerFrameAlike();
    void saveStartsInTheRightFolder();
    void saveDialogNamesAndWrites_data();
    void saveDialogNamesAndWrites();
    void nameStaysInsideTemporaryFolder_data();
    void nameStaysInsideTemporaryFolder();
    void pasteTakesOnlyPictures_data();
    void pasteTakesOnlyPictures();
    void staleChangesEmptySizeDisplay_data();
    void staleChangesEmptySizeDisplay();
    void colourTurnsTransparencyOff();
    void sizeLimitSaysWhatItDid();
    void fieldsShowWhatIsUsed_data();
    void fieldsShowWhatIsUsed();
    void commandsFollowTheirRules_data();
    void commandsFollowTheirRules();
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
    OutputController* out() const { return _app->output(); }
    MainInterface* window() const { return _app->interface(); }
    QAction* action(const char* command) const { return window()->action(QLatin1String(command)); }
    bool enabled(const char* command) const { return action(command)->isEnabled(); }
    void run(const char* command) const { action(command)->trigger(); }
    // The commands of the table that follow that rule, by identifier.
    static QStringList commandsFollowing(const QList<Rule>& rules)
    {
        QStringList found;
        for (const CommandTable::Command& command : CommandTable::commands())
            if (rules.contains(command.rule))
                found << QLatin1String(command.identifier);
        return found;
    }
    QStringList enabledCommands() const
    {
        QStringList on;
        for (const CommandTable::Command& command : CommandTable::commands())
            if (enabled(command.identifier))
                on << QLatin1String(command.identifier);
        return on;
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

    QVERIFY(openFile(writePhoto(path("Beach.day.png"), QSize(64, 48))));
    const QString title = _app->mainWindow()->windowTitle();
    QVERIFY2(title.contains(QStringLiteral("64 x 48")), qPrintable(title));
    QCOMPARE(_app->filename(), QStringLiteral("Beach.day"));

    SheetCatcher sheets(QString(), _app->mainWindow());
    QVERIFY(writeBytes(path(QStringLiteral("notes.txt")), "shopping list\n"));
    QCOMPARE(openFile(path(bad)), via != "open");
    QVERIFY(sheets.shown());
    // Not an image, rather than too large or damaged.
    QCOMPARE(sheets.last().informative,
             QStringLiteral("This is probably because it is not an image file."));
    QCOMPARE(_app->filename(), QStringLiteral("Beach.day"));
    QCOMPARE(_app->document()->framedPhoto().photo.size(), QSize(64, 48));
    QCOMPARE(_app->mainWindow()->windowTitle(), title);
}

void TestAppController::documentLifecycle()
{
    // A second photo keeps the frame, its colour and the flip.
    const QString framePath = path(QStringLiteral("Oval.png"));
    QVERIFY(solid(30, 20, Qt::transparent).save(framePath));
    open(QStringLiteral("one.png"));
    _app->setBorderPath(framePath);
    _app->setColor(QColor(Qt::darkRed));
    run("flipH");
    open(QStringLiteral("two.png"));
    QCOMPARE(_app->borderPath(), framePath);
    QVERIFY(_app->shouldFlipHorizontal());
    QCOMPARE(_app->document()->color(), std::optional<QColor>(QColor(Qt::darkRed)));
    QCOMPARE(_app->filename(), QStringLiteral("two"));

    run("close");
    QCOMPARE(_app->mainWindow()->windowTitle(), QStringLiteral("Velluma"));
    QVERIFY(!_app->document()->hasPhoto());
    QCOMPARE(_app->filename(), QString());
    QVERIFY(_app->imageMetadata().isEmpty());

    // The sanitizer build runs this under LeakSanitizer: memory lost by any one cycle of
    // what a session does with photos (open, frame, write, close) is reported at the end.
    const QString photos[] = {writePhoto(path(QStringLiteral("a.jpg")), QSize(300, 200)),
                              writePhoto(path(QStringLiteral("b.png")), QSize(200, 300))};
    for (int cycle = 0; cycle < 50; ++cycle) {
        QVERIFY(_app->applicationOpenFile(photos[cycle % 2]));
        QString error;
        QVERIFY2(!out()->writeTmpFile(&error).isEmpty(), qPrintable(error));
        run("close");
    }

    // Quitting removes the temporary files and keeps the window's place.
    open(QStringLiteral("one.png"));
    const QString folder = QFileInfo(out()->writeTmpFile()).absolutePath();
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
    QStringList commandsOn;
    auto* runner = _app->findChild<BackgroundRunner*>();
    QVERIFY(runner);
    connect(runner, &BackgroundRunner::busyChanged, this, [&](bool isBusy) {
        busyStates << isBusy;
        // A second export asked for meanwhile is refused, and nothing invites one.
        if (isBusy) {
            nested =
                out()->writeImageToFile(path(QStringLiteral("second.png")), FileFormat::Png, 90);
            commandsOn = enabledCommands();
        }
    });
    QCOMPARE(out()->writeImageToFile(target, FileFormat::Png, 90), target);
    QCOMPARE(busyStates, (QList<bool>{true, false}));
    QVERIFY(nested.isEmpty());
    QCOMPARE(commandsOn, QStringList());
    QVERIFY(!QFile::exists(path(QStringLiteral("second.png"))));
    QCOMPARE(QImage(target).pixel(30, 20), QColor(Qt::blue).rgb());

    _app->document()->setFrameImage(solid(60, 40, QColor(200, 10, 10)));
    QCOMPARE(out()->writeImageToFile(target, FileFormat::Png, 90), target);
    QCOMPARE(QImage(target).pixel(30, 20), qRgb(200, 10, 10));

    // Without a photo nothing is written.
    run("close");
    QVERIFY(out()->writeTmpFile().isEmpty());
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
    QCOMPARE(out()->writeImageToFile(fromWindow, FileFormat::Png, 90), fromWindow);

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

void TestAppController::saveStartsInTheRightFolder()
{
    // The photo's folder the first time; after a save elsewhere, there, in the next run too.
    const QString original = writePhoto(path(QStringLiteral("one.png")));
    const auto dialogFolder = [&](const QString& file) {
        _app->applicationOpenFile(original);
        QString folder;
        whenModalShown([&folder, file](QWidget* modal) {
            folder = qobject_cast<QFileDialog*>(modal)->directory().absolutePath();
            modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(file);
            QTest::keyClick(modal, file.isEmpty() ? Qt::Key_Escape : Qt::Key_Return);
        });
        out()->saveDocumentAs();
        return folder;
    };
    QVERIFY(QDir(_dir.path()).mkdir(QStringLiteral("saved")));
    QCOMPARE(dialogFolder(path(QStringLiteral("saved/framed"))), _dir.path());
    QCOMPARE(QDir(path(QStringLiteral("saved"))).entryList(QDir::Files).size(), 1);
    _app = std::make_unique<AppController>(*_defaults);
    QCOMPARE(dialogFolder(QString()), path(QStringLiteral("saved")));
}

void TestAppController::saveDialogNamesAndWrites_data()
{
    // The photo is noise.png; the settings say JPEG at quality 80.
    QTest::addColumn<QString>("entered");
    QTest::addColumn<int>("chosenFormat"); // picked in the dialog's pop-up; 0: left alone
    QTest::addColumn<QString>("typedQuality");
    QTest::addColumn<QString>("saved");
    QTest::addColumn<int>("quality");
    QTest::addColumn<bool>("existed"); // `saved` was there before: asked, and replaced
    const auto row = [](const char* name, const char* entered, int format, const char* typed,
                        const char* saved, int quality, bool existed = false) {
        QTest::newRow(name) << QString(entered) << format << QString(typed) << QString(saved)
                            << quality << existed;
    };
    row("image extension dropped", "Beach.JPG", 0, "", "Beach.jpg", 80);
    row("other type's extension too", "Beach.png", 0, "", "Beach.jpg", 80);
    row("other extension kept", "Beach.final", 0, "", "Beach.final.jpg", 80);
    row("PNG in the pop-up", "Beach.jpg", codeForFileFormat(FileFormat::Png), "", "Beach.png", 80);
    row("quality of the dialog", "Beach", 0, "55", "Beach.jpg", 55);
    row("an existing file, named bare", "Beach", 0, "", "Beach.jpg", 80, true);
    // Save, Return, Return must not replace the photo: it is asked about, kept by default.
    row("the photo itself", "noise.png", codeForFileFormat(FileFormat::Png), "", "noise.png", 80,
        true);
}

void TestAppController::saveDialogNamesAndWrites()
{
    QFETCH(QString, entered);
    QFETCH(int, chosenFormat);
    QFETCH(QString, typedQuality);
    QFETCH(QString, saved);
    QFETCH(int, quality);
    QFETCH(bool, existed);
    QDir folder(_dir.path());
    for (const QString& earlier : folder.entryList({QStringLiteral("Beach*")}))
        QVERIFY(folder.remove(earlier));
    QVERIFY(noisePhoto(64, 48).save(path(QStringLiteral("noise.png"))));
    const QByteArray photo = readAll(path(QStringLiteral("noise.png")));
    if (existed && !saved.startsWith("noise"))
        QVERIFY(writeBytes(path(saved), "older"));
    QVERIFY(_app->applicationOpenFile(path(QStringLiteral("noise.png"))));
    OutputSettings* settings = _app->outputSettings();
    settings->setFileFormat(FileFormat::Jpeg);
    settings->setJpegQuality(80);
    const FileFormat format = chosenFormat ? fileFormatForCode(chosenFormat) : FileFormat::Jpeg;
    whenModalShown([&](QWidget* modal) {
        auto* pop = modal->findChild<QComboBox*>(QStringLiteral("savePanelFileFormatPop"));
        auto* field = modal->findChild<QLineEdit*>(QStringLiteral("savePanelQualityTF"));
        QVERIFY(pop && field);
        if (chosenFormat)
            pop->setCurrentIndex(pop->findData(chosenFormat));
        if (!typedQuality.isEmpty())
            field->setText(typedQuality);
        modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path(entered));
        QTest::keyClick(modal, Qt::Key_Return);
    });
    SheetCatcher questions;
    out()->saveDocumentAs();
    QCOMPARE(questions.shown(), existed);
    // The format chosen in the dialog is the window's from now on; the quality is not.
    QCOMPARE(settings->fileFormat(), format);
    QCOMPARE(settings->jpegQuality(), 80);
    if (saved.startsWith("noise")) {
        QVERIFY(questions.last().informative.contains(QStringLiteral("original photo")));
        QCOMPARE(readAll(path(saved)), photo);
        return;
    }
    QCOMPARE(folder.entryList({QStringLiteral("Beach*")}), QStringList{saved});
    // The file is what writing at that quality gives, and not what the setting would give.
    const QString expected =
        out()->writeImageToFile(path(QStringLiteral("expected")), format, quality);
    QCOMPARE(readAll(path(saved)), readAll(expected));
    if (format == FileFormat::Jpeg)
        QVERIFY(readAll(expected) != readAll(out()->writeImageToFile(path(QStringLiteral("other")),
                                                                     format, 135 - quality)));
}

void TestAppController::nameStaysInsideTemporaryFolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("an existing file's path")
        << path(QStringLiteral("notes.txt")) << path(QStringLiteral("notes.txt")).replace('/', '_');
    for (const auto& [name, file] : {std::pair{"~/notes", "~_notes"}, std::pair{"..", "__"},
                                     std::pair{"", "Untitled"}, std::pair{"   ", "Untitled"}})
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
    run("copy");
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
    // The save dialog suggests the same name.
    QString suggested;
    whenModalShown([&suggested](QWidget* modal) {
        suggested = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    out()->saveDocumentAs();
    QCOMPARE(suggested, fileName);
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
    run("paste");
    QCOMPARE(_app->document()->framedPhoto().photo.size(), shown);
    // The name and metadata are those of the photo opened before, or none.
    QCOMPARE(_app->filename(), photoOpen ? QStringLiteral("tagged") : QString());
    QCOMPARE(_app->imageMetadata().value(QStringLiteral("Exif.Image.Artist")),
             photoOpen ? QStringLiteral("Ann") : QString());
    for (const QString& command : commandsFollowing({Rule::NeedsPhoto}))
        QVERIFY2(enabled(qPrintable(command)) == !shown.isEmpty(), qPrintable(command));
    // A picture pasted is a document: copy hands it on as a file.
    if (!shown.isEmpty()) {
        run("copy");
        const QList<QUrl> urls = QGuiApplication::clipboard()->mimeData()->urls();
        QCOMPARE(urls.size(), 1);
        QCOMPARE(QImage(urls.first().toLocalFile()).size(), shown);
    }
}

void TestAppController::colourTurnsTransparencyOff()
{
    OutputSettings* settings = _app->outputSettings();
    QCheckBox* transparent = _app->outputPanel()->transparentBackgroundBox();
    Document* document = _app->document();
    open(QStringLiteral("one.png"));
    settings->setFileFormat(FileFormat::Png);
    settings->setTransparentBackground(true);
    QVERIFY(!document->color().has_value());
    QVERIFY(transparent->isChecked());

    _app->setColor(QColor(10, 20, 30));
    QVERIFY(!settings->transparentBackground());
    QVERIFY(!transparent->isChecked());
    QCOMPARE(document->color(), std::optional<QColor>(QColor(10, 20, 30)));

    // Back to transparent and to the colour again: the chosen colour returns.
    transparent->click();
    QVERIFY(!document->color().has_value());
    transparent->click();
    QCOMPARE(document->color(), std::optional<QColor>(QColor(10, 20, 30)));
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
    const FramedPhoto before = _app->document()->framedPhoto();
    const ExportRenderer::Options options = out()->exportOptions();
    const QString written = out()->writeTmpFile();
    QVERIFY(!written.isEmpty());
    QVERIFY(out()->exportRenderer().isValidCacheAtPath(written, before, options));
    out()->updateFilesizeForFile(written);
    OutputPanel* panel = _app->outputPanel();
    QVERIFY(!panel->filesizeField()->text().isEmpty());

    OutputSettings* settings = _app->outputSettings();
    const std::map<QString, std::function<void()>> changes = {
        {"format", [&] { settings->setFileFormat(FileFormat::Tiff); }},
        {"quality", [&] { settings->setJpegQuality(55); }},
        {"limit", [&] { panel->limitFilesizeBox()->click(); }},
        {"limitKB", [&] { _defaults->setInteger(321, DefFilesizeLimit); }},
        {"transparent", [&] { settings->setTransparentBackground(true); }},
        {"metadata", [&] { panel->preserveMetadataBox()->click(); }},
        {"colour", [&] { _app->setColor(QColor(Qt::yellow)); }},
        {"frame", [&] { _app->setBorderPath(QString()); }},
        {"flip", [&] { run("flipH"); }},
        {"photo", [&] { open(QStringLiteral("two.png")); }},
        // By someone else, under the same name.
        {"rewritten", [&] { QVERIFY(writeBytes(written, "not ours")); }},
    };
    changes.at(change)();
    if (change != "rewritten")
        QCOMPARE(panel->filesizeField()->text(), QString());
    // The written-file flag went down, even for the document and options it was written from.
    QVERIFY(!out()->exportRenderer().isValidCacheAtPath(written, before, options));
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
    run("copy");
    const QString note = _app->mainWindow()->statusBar()->currentMessage();
    QVERIFY2(note.contains(QStringLiteral("20 KB")), qPrintable(note));
    QCOMPARE(_app->outputPanel()->filesizeField()->toolTip(), note);
    QCOMPARE(_app->outputSettings()->jpegQuality(), 90);

    // No quality fits 1 KB: copy says so as save does.
    _defaults->setInteger(1, DefFilesizeLimit);
    SheetCatcher sheets(QString(), _app->mainWindow());
    run("copy");
    QVERIFY(sheets.last().informative.contains(QStringLiteral("1 KB")));
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
    row(true, "10", "copy", 10); // without Return
    row(false, "0", "tab", 400);
    row(false, "9999999", "return", 1048576);
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
    OutputPanel* panel = _app->outputPanel();
    QLineEdit* field = quality ? panel->qualityField() : panel->filesizeLimitField();
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, typed);
    if (then == "copy")
        run("copy");
    else
        QTest::keyClick(field, then == "tab" ? Qt::Key_Tab : Qt::Key_Return);
    QCOMPARE(quality ? settings->jpegQuality() : settings->filesizeLimit(), used);
    QCOMPARE(field->text(), QString::number(used));
    if (quality)
        QCOMPARE(panel->qualityStepper()->value(), used);
    else
        QCOMPARE(_defaults->integerForKey(DefFilesizeLimit), used);
}

void TestAppController::commandsFollowTheirRules_data()
{
    QTest::addColumn<bool>("photo");
    QTest::addColumn<bool>("browser"); // the photo browser is installed
    QTest::newRow("no photo") << false << true;
    QTest::newRow("photo") << true << true;
    QTest::newRow("no browser") << true << false;
}

void TestAppController::commandsFollowTheirRules()
{
    QFETCH(bool, photo);
    QFETCH(bool, browser);
    window()->setPhotoBrowserAvailable(browser);
    if (photo)
        open(QStringLiteral("one.png"));
    QList<Rule> on = {Rule::Always};
    if (photo)
        on << Rule::NeedsPhoto;
    if (browser)
        on << Rule::PhotoBrowser;
    const QStringList expected = commandsFollowing(on);
    QCOMPARE(enabledCommands(), expected);
    // Nothing to send to until destinations are set up.
    QVERIFY(!window()->menu(QStringLiteral("SendTo"))->isEnabled());
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

    // No feed: each check ends at once, so the second launch can start its own.
    _defaults->setString(QString(), DefSUFeedURL);
    QSignalSpy check(_app->companions()->updater(), &SUUpdater::checkStarted);
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
    ProxyView* proxy = window()->proxyView();
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
    _app->outputSettings()->setFileFormat(FileFormat::Png);
    const QString png = enter();
    QVERIFY(png.endsWith(QLatin1String("Beach.png")));
    QCOMPARE(QImage(png).size(), QSize(60, 40));
    QVERIFY(!QFile::exists(jpeg));

    // The document icon is a source of files, never a target.
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(png)});
    QVERIFY(!dropOn(proxy, mime).entered);

    run("close");
    QCOMPARE(enter(), QString());
    QVERIFY(!QFile::exists(png));
}

void TestAppController::toolbarCustomizationComesBack()
{
    const QStringList defaults = window()->toolbarItems();

    run("customizeToolbar");
    ToolbarCustomizer* customizer = window()->toolbarCustomizer();
    QVERIFY(customizer && customizer->isVisible());
    // Nothing runs while the toolbar is edited.
    QCOMPARE(enabledCommands(), QStringList());
    const QString removed = defaults.at(2);
    customizer->removeRow(2);
    QVERIFY(!customizer->addItem(defaults.at(0))); // already there
    QVERIFY(customizer->addItem(removed));
    QVERIFY(customizer->addItem(CommandTable::kSeparator));
    customizer->moveRow(9, 0);
    customizer->accept();
    QStringList chosen = defaults;
    chosen.removeAt(2);
    chosen << removed << CommandTable::kSeparator;
    chosen.move(9, 0);
    QCOMPARE(window()->toolbarItems(), chosen);
    QCOMPARE(window()->toolBar()->actions().size(), chosen.size());
    QVERIFY(enabled("open"));

    // The next start shows the user's toolbar; back to the default set, nothing is kept.
    _app.reset();
    _defaults->synchronize();
    _defaults = std::make_unique<UserDefaults>(path(QStringLiteral("prefs.plist")));
    _app = std::make_unique<AppController>(*_defaults);
    QCOMPARE(window()->toolbarItems(), chosen);
    run("customizeToolbar");
    window()->toolbarCustomizer()->useDefaultSet();
    window()->toolbarCustomizer()->accept();
    QCOMPARE(window()->toolbarItems(), defaults);
    QVERIFY(!_defaults->hasStoredValue(QLatin1String(CommandTable::kToolbarIdentifier)));

    // An item of another version keeps its place, on the toolbar and through the dialog.
    const QStringList later = {defaults.at(0), QStringLiteral("ZTLater"), defaults.at(1)};
    _defaults->setObject(later, QLatin1String(CommandTable::kToolbarIdentifier));
    _app.reset();
    _app = std::make_unique<AppController>(*_defaults);
    QCOMPARE(window()->toolBar()->actions().size(), 3);
    run("customizeToolbar");
    window()->toolbarCustomizer()->accept();
    QCOMPARE(window()->toolbarItems(), later);
}

QTEST_MAIN(TestAppController)
#include "moc_TestSupport.cpp"
#include "test_appcontroller.moc"
