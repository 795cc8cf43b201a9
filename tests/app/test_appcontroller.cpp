// The program's window: opening, saving, copying and pasting photos, its commands and fields,
// and framing several photos from it.
#include "TestSupport.h"
#include "app/AppController.h"
#include "app/BatchSheet.h"
#include "app/CompanionController.h"
#include "app/MainInterface.h"
#include "app/OutputController.h"
#include "app/OutputPanel.h"
#include "app/SUUpdater.h"
#include "compositing/Document.h"
#include "foundation/CommandTable.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "frames/FrameLibrary.h"
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
#include "ui/frames/CollectionPopUp.h"
#include "ui/frames/ThumbnailController.h"
#include "ui/frames/ThumbnailTableView.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImageReader>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>

#include <functional>
#include <map>

using Rule = CommandTable::Rule;

namespace {

DropResult dropFiles(QObject* target, const QStringList& files)
{
    return dropOn(target, *std::unique_ptr<QMimeData>(fileMime(files)));
}

} // namespace

class TestAppController : public QObject {
    Q_OBJECT
    QTemporaryDir _dir;
    std::unique_ptr<UserDefaults> _defaults;
    std::unique_ptr<AppController> _app;
    QString path(const QString& name) const { return _dir.filePath(name); }
    void open(const QString& name) { QVERIFY(_app->applicationOpenFile(writePhoto(path(name)))); }
    void restart()
    {
        _app.reset();
        _app = std::make_unique<AppController>(*_defaults);
    }
    OutputController* out() const { return _app->output(); }
    MainInterface* window() const { return _app->interface(); }
    QAction* action(const char* command) const { return window()->action(QLatin1String(command)); }
    void run(const char* command) const { action(command)->trigger(); }
    // The commands of the table that follow one of the rules; without rules, those enabled.
    QStringList commands(const std::optional<QList<Rule>>& rules = {}) const
    {
        QStringList found;
        for (const CommandTable::Command& c : CommandTable::commands())
            if (rules ? rules->contains(c.rule) : action(c.identifier)->isEnabled())
                found << QLatin1String(c.identifier);
        return found;
    }
    // Noise photos 40+i x 30 and so on, for the batch sheet.
    QList<QByteArray> photos(int count, QSize size, const QString& prefix)
    {
        QList<QByteArray> names;
        for (int i = 0; i < count; ++i) {
            const QString name = path(QStringLiteral("%1%2.png").arg(prefix).arg(i));
            if (!noisePhoto(size.width() + i, size.height()).save(name))
                return {};
            names << QFile::encodeName(name);
        }
        return names;
    }

private slots:
    void init()
    {
        QVERIFY(_dir.isValid());
        QFile::remove(path("prefs.plist"));
        _defaults = std::make_unique<UserDefaults>(path("prefs.plist"));
        _app = std::make_unique<AppController>(*_defaults);
    }
    void cleanup()
    {
        _app.reset();
        _defaults.reset();
    }
    void failedOpenKeepsThePhoto_data()
    {
        QTest::addColumn<QString>("via");
        QTest::addColumn<QString>("bad");
        for (const char* via : {"open", "drop", "hand over"})
            QTest::newRow(via) << QString(via) << QStringLiteral("notes.txt");
        QTest::newRow("opened, missing") << QStringLiteral("open") << QStringLiteral("gone.jpg");
    }
    void failedOpenKeepsThePhoto()
    {
        QFETCH(QString, via);
        QFETCH(QString, bad);
        auto openFile = [&](const QString& file) {
            if (via == "drop")
                return dropFiles(_app->previewView(), {file}).entered;
            if (via == "open")
                return _app->applicationOpenFile(file);
            _app->openFiles({QFile::encodeName(file)});
            return true;
        };
        QVERIFY(openFile(writePhoto(path("Beach.day.png"), QSize(64, 48))));
        SheetCatcher sheets(QString(), _app->mainWindow());
        QVERIFY(writeBytes(path("notes.txt"), "shopping list\n"));
        QCOMPARE(openFile(path(bad)), via != "open");
        QVERIFY(sheets.shown());
        QCOMPARE(_app->filename(), QStringLiteral("Beach.day"));
        QCOMPARE(_app->document()->framedPhoto().photo.size(), QSize(64, 48));
    }
    void documentLifecycle()
    {
        // A second photo keeps the frame, its colour and the flip.
        const QString framePath = path("Oval.png");
        QVERIFY(solid(30, 20, Qt::transparent).save(framePath));
        open("one.png");
        _app->setBorderPath(framePath);
        _app->setColor(QColor(Qt::darkRed));
        run("flipH");
        open("two.png");
        QCOMPARE(std::tuple(_app->borderPath(), _app->shouldFlipHorizontal(),
                            _app->document()->color(), _app->filename()),
                 std::tuple(framePath, true, std::optional<QColor>(Qt::darkRed), QString("two")));
        run("close");
        QVERIFY(!_app->document()->hasPhoto() && _app->imageMetadata().isEmpty() &&
                _app->filename().isEmpty());

        // The sanitizer build runs this under LeakSanitizer: memory lost by any one cycle of
        // what a session does with photos (open, frame, write, close) is reported at the end.
        const QString photos[] = {writePhoto(path("a.jpg"), QSize(300, 200)),
                                  writePhoto(path("b.png"), QSize(200, 300))};
        for (int cycle = 0; cycle < 50; ++cycle) {
            QVERIFY(_app->applicationOpenFile(photos[cycle % 2]));
            QVERIFY(!out()->writeTmpFile().isEmpty());
            run("close");
        }

        // Quitting removes the temporary files.
        open("one.png");
        const QString folder = QFileInfo(out()->writeTmpFile()).absolutePath();
        QVERIFY(QFileInfo(folder).isDir() && !folder.startsWith(_dir.path()));
        _app->applicationShouldTerminate();
        QVERIFY(!QFileInfo::exists(folder));
    }
    void exportFollowsThePreview()
    {
        // What the preview holds is what the export writes: a frame set on the preview alone,
        // with no word to the renderer, shows in the next file.
        open("one.png");
        const QString target = path("out.png");
        QList<bool> busyStates;
        QString nested = QStringLiteral("not asked");
        QStringList commandsOn;
        auto* runner = _app->findChild<BackgroundRunner*>();
        QVERIFY(runner);
        connect(runner, &BackgroundRunner::busyChanged, this, [&](bool isBusy) {
            busyStates << isBusy;
            // A second export asked for meanwhile is refused, and nothing invites one.
            if (isBusy) {
                nested = out()->writeImageToFile(path("second.png"), FileFormat::Png, 90);
                commandsOn = commands();
            }
        });
        QCOMPARE(out()->writeImageToFile(target, FileFormat::Png, 90), target);
        QCOMPARE(busyStates, (QList<bool>{true, false}));
        QCOMPARE(std::tuple(nested, commandsOn), std::tuple(QString(), QStringList()));
        QVERIFY(!QFile::exists(path("second.png")));
        QCOMPARE(QImage(target).pixel(30, 20), QColor(Qt::blue).rgb());

        _app->document()->setFrameImage(solid(60, 40, QColor(200, 10, 10)));
        QCOMPARE(out()->writeImageToFile(target, FileFormat::Png, 90), target);
        QCOMPARE(QImage(target).pixel(30, 20), qRgb(200, 10, 10));
        // Without a photo nothing is written.
        run("close");
        QVERIFY(out()->writeTmpFile().isEmpty());
    }
    void windowAndBatchFramerFrameAlike()
    {
        // A JPEG frame stored 40 x 20, its top half white, whose EXIF turns it upright to
        // 20 x 40 with the white half on the right. Without turning to fit the photo, both read
        // it upright; read as stored, the white half would be on top.
        QImage stored = solid(40, 20, Qt::black, QImage::Format_RGB32);
        QPainter(&stored).fillRect(0, 0, 40, 10, Qt::white);
        const QString framePath = path("Turned.jpg");
        QVERIFY(stored.save(framePath, "JPEG", 100));
        setTags(framePath, {{"Exif.Image.Orientation", "6"}});
        _defaults->setBool(false, DefAutoRotateBorder);
        const QString photoPath = writePhoto(path("wide.png"), QSize(90, 50));
        QVERIFY(_app->applicationOpenFile(photoPath));
        _app->setBorderPath(framePath);
        const QString fromWindow = path("window.png");
        QCOMPARE(out()->writeImageToFile(fromWindow, FileFormat::Png, 90), fromWindow);

        QProcess batch;
        batch.start(QStringLiteral(VELLUMA_FRAME_BINARY),
                    {"-f", framePath, "-F", "png", "--no-rotate", "-o", path("batch"), photoPath});
        QVERIFY(batch.waitForFinished(30000));
        QCOMPARE(batch.exitCode(), 0);
        const QImage window = QImage(fromWindow).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(window, QImage(path("batch/wide.png")).convertToFormat(QImage::Format_ARGB32));
        QCOMPARE(window.pixel(85, 25), qRgb(255, 255, 255));
        QCOMPARE(window.pixel(5, 5), QColor(Qt::blue).rgb());
    }
    void windowFitsTheScreen_data()
    {
        QTest::addColumn<QRect>("remembered");
        // The offscreen screen is smaller than the window the program asks for at first.
        QTest::newRow("first start") << QRect();
        QTest::newRow("from a larger screen") << QRect(300, 200, 1900, 1150);
        QTest::newRow("from a screen now gone") << QRect(-2500, 3000, 600, 400);
    }
    void windowFitsTheScreen()
    {
        QFETCH(QRect, remembered);
        if (remembered.isValid()) {
            ZTWindow earlier;
            earlier.setGeometry(remembered);
            _defaults->setString(QString::fromLatin1(earlier.saveGeometry().toBase64()),
                                 QStringLiteral("mainWindow"));
        }
        restart();
        // The position of a window is that of its frame.
        const ZTWindow* window = _app->mainWindow();
        const QRect outer(window->pos(), window->size().grownBy(ZTWindow::assumedFrame()));
        QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(outer));
    }
    void frameFollowsItsRenamedSet()
    {
        // The set of the frame on the photo is renamed: a flip then loads the frame from its
        // new folder instead of losing it.
        ThumbnailController* frames = window()->thumbnailController();
        CollectionPopUp* pop = frames->collectionPopUp();
        std::optional<SheetCatcher> sheet(std::in_place, "confirmButton", nullptr, "Old");
        frames->selectCollection(pop->rowOfCommand(ThumbnailController::CreateFrameSetTag));
        const QString sets = FrameLibrary::userFrameFolder();
        QVERIFY(solid(30, 20, Qt::transparent).save(sets + "/Old/Oval.png"));
        frames->refreshAction()->trigger();
        open("photo.png");
        frames->tableView()->selectRow(0);
        sheet.emplace("confirmButton", nullptr, "New");
        frames->selectCollection(pop->rowOfCommand(ThumbnailController::RenameFrameSetTag));
        run("flipFrame");
        const FramedPhoto framed = _app->document()->framedPhoto();
        QCOMPARE(std::tuple(framed.framePath, framed.frame.size(), framed.flipped),
                 std::tuple(sets + "/New/Oval.png", QSize(30, 20), true));
    }
    void saveStartsInTheRightFolder()
    {
        // The photo's folder the first time; after a save elsewhere, there, in the next run too.
        const QString original = writePhoto(path("one.png"));
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
        QCOMPARE(dialogFolder(path("saved/framed")), _dir.path());
        QCOMPARE(QDir(path("saved")).entryList(QDir::Files).size(), 1);
        restart();
        QCOMPARE(dialogFolder(QString()), path("saved"));
    }
    void saveDialogNamesAndWrites_data()
    {
        // The photo is noise.png; the settings say JPEG at quality 80. A quality other than 80
        // is typed in the dialog.
        QTest::addColumn<QString>("entered");
        QTest::addColumn<int>("chosenFormat"); // picked in the dialog's pop-up; 0: left alone
        QTest::addColumn<QString>("saved");
        QTest::addColumn<int>("quality");
        QTest::addColumn<bool>("existed"); // `saved` was there before: asked, and replaced
        const auto row = [](const char* name, const char* entered, int format, const char* saved,
                            int quality, bool existed = false) {
            QTest::newRow(name) << QString(entered) << format << QString(saved) << quality
                                << existed;
        };
        const int png = codeForFileFormat(FileFormat::Png);
        row("image extension dropped", "Beach.JPG", 0, "Beach.jpg", 80);
        row("other type's extension too", "Beach.png", 0, "Beach.jpg", 80);
        row("other extension kept", "Beach.final", 0, "Beach.final.jpg", 80);
        row("PNG in the pop-up", "Beach.jpg", png, "Beach.png", 80);
        row("quality of the dialog", "Beach", 0, "Beach.jpg", 55);
        row("an existing file, named bare", "Beach", 0, "Beach.jpg", 80, true);
        // Save, Return, Return must not replace the photo: it is asked about, kept by default.
        row("the photo itself", "noise.png", png, "noise.png", 80, true);
    }
    void saveDialogNamesAndWrites()
    {
        QFETCH(QString, entered);
        QFETCH(int, chosenFormat);
        QFETCH(QString, saved);
        QFETCH(int, quality);
        QFETCH(bool, existed);
        QDir folder(_dir.path());
        for (const QString& earlier : folder.entryList({QStringLiteral("Beach*")}))
            QVERIFY(folder.remove(earlier));
        QVERIFY(noisePhoto(64, 48).save(path("noise.png")));
        const QByteArray photo = readAll(path("noise.png"));
        if (existed && !saved.startsWith("noise"))
            QVERIFY(writeBytes(path(saved), "older"));
        QVERIFY(_app->applicationOpenFile(path("noise.png")));
        OutputSettings* settings = _app->outputSettings();
        settings->setFileFormat(FileFormat::Jpeg);
        settings->setJpegQuality(80);
        const FileFormat format = chosenFormat ? fileFormatForCode(chosenFormat) : FileFormat::Jpeg;
        whenModalShown([&](QWidget* modal) {
            auto* pop = modal->findChild<QComboBox*>(QStringLiteral("savePanelFileFormatPop"));
            auto* field = modal->findChild<QLineEdit*>(QStringLiteral("savePanelQualityTF"));
            if (chosenFormat)
                pop->setCurrentIndex(pop->findData(chosenFormat));
            if (quality != 80)
                field->setText(QString::number(quality));
            modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path(entered));
            QTest::keyClick(modal, Qt::Key_Return);
        });
        SheetCatcher questions;
        out()->saveDocumentAs();
        QCOMPARE(questions.shown(), existed);
        // The format chosen in the dialog is the window's from now on; the quality is not.
        QCOMPARE(std::tuple(settings->fileFormat(), settings->jpegQuality()),
                 std::tuple(format, 80));
        if (saved.startsWith("noise")) {
            QVERIFY(questions.last().informative.contains(QStringLiteral("original photo")));
            QCOMPARE(readAll(path(saved)), photo);
            return;
        }
        QCOMPARE(folder.entryList({QStringLiteral("Beach*")}), QStringList{saved});
        // The file is what writing at that quality gives, and not what the setting would give.
        const QString expected = out()->writeImageToFile(path("expected"), format, quality);
        QCOMPARE(readAll(path(saved)), readAll(expected));
        if (format == FileFormat::Jpeg)
            QVERIFY(readAll(expected) !=
                    readAll(out()->writeImageToFile(path("other"), format, 135 - quality)));
    }
    void nameStaysInsideTemporaryFolder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("an existing file's path")
            << path("notes.txt") << path("notes.txt").replace('/', '_');
        for (const auto& [name, file] : {std::pair{"~/notes", "~_notes"}, std::pair{"..", "__"},
                                         std::pair{"", "Untitled"}, std::pair{"   ", "Untitled"}})
            QTest::newRow(name) << QString(name) << QString(file);
    }
    void nameStaysInsideTemporaryFolder()
    {
        // Whatever the name field holds, copy writes inside our temporary folder and leaves
        // the user's files alone.
        QFETCH(QString, name);
        QFETCH(QString, fileName);
        QVERIFY(writeBytes(path("notes.txt"), "shopping list\n"));
        QVERIFY(_app->applicationOpenFile(writePhoto(path("one.png"), QSize(2400, 1600))));
        _app->outputPanel()->filenameField()->setText(name);
        run("copy");
        QCOMPARE(readAll(path("notes.txt")), QByteArray("shopping list\n"));
        const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
        const QString file = TmpFilePath::tmpFolder() + "/" + fileName + ".jpg";
        QCOMPARE(std::tuple(copied->urls(), copied->text()),
                 std::tuple(QList<QUrl>{QUrl::fromLocalFile(file)}, file));
        // The picture as shown goes as image data, quick to paste; the full size is the file.
        QCOMPARE(qvariant_cast<QImage>(copied->imageData()), _app->previewView()->image());
        QVERIFY(_app->previewView()->image().width() < 2400);
        QCOMPARE(QImage(file).size(), QSize(2400, 1600));
    }
    void pasteAndCommands_data()
    {
        QTest::addColumn<bool>("photoOpen"); // 60 x 40, named "tagged", with an artist tag
        QTest::addColumn<bool>("picture");   // else text only on the clipboard
        QTest::addColumn<bool>("browser");   // the photo browser is installed
        QTest::addColumn<QSize>("shown");
        QTest::newRow("picture over a photo") << true << true << true << QSize(30, 20);
        QTest::newRow("text over a photo, no browser") << true << false << false << QSize(60, 40);
        QTest::newRow("picture, no photo") << false << true << false << QSize(30, 20);
        QTest::newRow("text, no photo") << false << false << true << QSize(0, 0);
    }
    // Only a picture is pasted, and the commands follow what is there.
    void pasteAndCommands()
    {
        QFETCH(bool, photoOpen);
        QFETCH(bool, picture);
        QFETCH(bool, browser);
        QFETCH(QSize, shown);
        window()->setPhotoBrowserAvailable(browser);
        if (photoOpen) {
            QVERIFY(gradientPhoto(60, 40).save(path("tagged.jpg")));
            setTags(path("tagged.jpg"), {{"Exif.Image.Artist", "Ann"}});
            QVERIFY(_app->applicationOpenFile(path("tagged.jpg")));
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
        QCOMPARE(std::tuple(_app->filename(),
                            _app->imageMetadata().value(QStringLiteral("Exif.Image.Artist"))),
                 photoOpen ? std::tuple(QStringLiteral("tagged"), QStringLiteral("Ann"))
                           : std::tuple(QString(), QString()));
        QList<Rule> on = {Rule::Always};
        if (!shown.isEmpty())
            on << Rule::NeedsPhoto;
        if (browser)
            on << Rule::PhotoBrowser;
        QCOMPARE(commands(), commands(on));
        // Nothing to send to until destinations are set up.
        QVERIFY(!window()->menu(QStringLiteral("SendTo"))->isEnabled());
        // A picture pasted is a document: copy hands it on as a file.
        if (!shown.isEmpty()) {
            run("copy");
            const QList<QUrl> urls = QGuiApplication::clipboard()->mimeData()->urls();
            QCOMPARE(urls.size(), 1);
            QCOMPARE(QImage(urls.first().toLocalFile()).size(), shown);
        }
    }
    void staleChangesEmptySizeDisplay_data()
    {
        QTest::addColumn<QString>("change");
        for (const char* change : {"format", "quality", "limit", "limitKB", "transparent",
                                   "metadata", "colour", "frame", "flip", "photo"})
            QTest::newRow(change) << QString(change);
    }
    void staleChangesEmptySizeDisplay()
    {
        QFETCH(QString, change);
        open("one.png");
        const FramedPhoto before = _app->document()->framedPhoto();
        const ExportRenderer::Options options = out()->exportOptions();
        const QString written = out()->writeTmpFile();
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
            {"photo", [&] { open("two.png"); }},
        };
        changes.at(change)();
        QCOMPARE(panel->filesizeField()->text(), QString());
        // The written-file flag went down, even for the document and options it was written from.
        QVERIFY(!out()->exportRenderer().isValidCacheAtPath(written, before, options));
    }
    void colourTurnsTransparencyOff()
    {
        OutputSettings* settings = _app->outputSettings();
        QCheckBox* transparent = _app->outputPanel()->transparentBackgroundBox();
        const auto state = [&] {
            return std::tuple(settings->transparentBackground(), transparent->isChecked(),
                              _app->document()->color());
        };
        open("one.png");
        settings->setFileFormat(FileFormat::Png);
        settings->setTransparentBackground(true);
        QCOMPARE(state(), std::tuple(true, true, std::optional<QColor>()));
        const std::optional<QColor> chosen = QColor(10, 20, 30);
        _app->setColor(*chosen);
        QCOMPARE(state(), std::tuple(false, false, chosen));
        // Back to transparent and to the colour again: the chosen colour returns.
        transparent->click();
        QVERIFY(!_app->document()->color().has_value());
        transparent->click();
        QCOMPARE(_app->document()->color(), chosen);
    }
    void sizeLimitSaysWhatItDid()
    {
        // Noise does not fit 20 KB at quality 90: the panel still says 90, so the size display
        // and the status line say what was used.
        QVERIFY(noisePhoto(200, 200).save(path("noise.png")));
        QVERIFY(_app->applicationOpenFile(path("noise.png")));
        _app->outputSettings()->setJpegQuality(90);
        _defaults->setInteger(20, DefFilesizeLimit);
        _app->outputSettings()->setLimitFilesize(true);
        run("copy");
        const QString note = _app->mainWindow()->statusBar()->currentMessage();
        QVERIFY2(note.contains(QStringLiteral("20 KB")), qPrintable(note));
        QCOMPARE(_app->outputSettings()->jpegQuality(), 90);
        // No quality fits 1 KB: copy says so as save does.
        _defaults->setInteger(1, DefFilesizeLimit);
        SheetCatcher sheets(QString(), _app->mainWindow());
        run("copy");
        QVERIFY(sheets.last().informative.contains(QStringLiteral("1 KB")));
        QVERIFY(_app->mainWindow()->statusBar()->currentMessage().isEmpty());
    }
    void fieldsShowWhatIsUsed_data()
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
    void fieldsShowWhatIsUsed()
    {
        QFETCH(bool, quality);
        QFETCH(QString, typed);
        QFETCH(QString, then);
        QFETCH(int, used);
        OutputSettings* settings = _app->outputSettings();
        settings->setJpegQuality(85);
        _defaults->setInteger(400, DefFilesizeLimit);
        settings->setLimitFilesize(true);
        open("one.png");
        _app->mainWindow()->show();
        QApplication::setActiveWindow(_app->mainWindow());
        QVERIFY(QTest::qWaitForWindowActive(_app->mainWindow()));
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
        QCOMPARE(quality ? panel->qualityStepper()->value()
                         : _defaults->integerForKey(DefFilesizeLimit),
                 used);
    }
    void startUp_data()
    {
        // What the user stored before this launch: 1 yes, 0 no, -1 never stored. The updater's
        // own setting is taken over although the factory defaults carry ours.
        QTest::addColumn<int>("updaterCheck");
        QTest::addColumn<int>("ownCheck");
        QTest::addColumn<bool>("checks");
        QTest::newRow("updater's taken over") << 1 << -1 << true;
        QTest::newRow("never stored") << -1 << -1 << false;
        QTest::newRow("ours stored") << 1 << 0 << false;
    }
    void startUp()
    {
        QFETCH(int, updaterCheck);
        QFETCH(int, ownCheck);
        QFETCH(bool, checks);
        for (const auto& [key, value] : {std::pair{DefSUCheckAtStartup, updaterCheck},
                                         std::pair{DefCheckForUpdatesAtStartup, ownCheck}}) {
            if (value < 0)
                _defaults->removeObjectForKey(key);
            else
                _defaults->setBool(value == 1, key);
        }
        restart();
        QCOMPARE(std::tuple(_defaults->boolForKey(DefSUCheckAtStartup),
                            _defaults->boolForKey(DefCheckForUpdatesAtStartup)),
                 std::tuple(false, checks));
        // No feed: each check ends at once, so the second launch can start its own.
        _defaults->setString(QString(), DefSUFeedURL);
        QSignalSpy check(_app->companions()->updater(), &SUUpdater::checkStarted);
        _app->applicationDidFinishLaunching();
        _app->applicationDidFinishLaunching();
        QCOMPARE(check.count(), checks ? 2 : 0);
    }
    void proxyPreparesFileOnEntry()
    {
        ProxyView* proxy = window()->proxyView();
        auto enter = [proxy] {
            QEnterEvent event(QPointF(4, 4), QPointF(4, 4), QPointF(4, 4));
            QCoreApplication::sendEvent(proxy, &event);
            return proxy->tmpPath();
        };
        QVERIFY(!proxy->isEnabled());
        QCOMPARE(enter(), QString());
        open("Beach.png");
        QVERIFY(proxy->isEnabled());
        _app->outputSettings()->setFileFormat(FileFormat::Jpeg);
        const QString jpeg = enter();
        _app->outputSettings()->setFileFormat(FileFormat::Png);
        const QString png = enter();
        QCOMPARE(std::tuple(QFileInfo(jpeg).fileName(), QFileInfo(png).fileName()),
                 std::tuple(QStringLiteral("Beach.jpg"), QStringLiteral("Beach.png")));
        QCOMPARE(QImage(png).size(), QSize(60, 40));
        QVERIFY(!QFile::exists(jpeg));
        // The document icon is a source of files, never a target.
        QVERIFY(!dropFiles(proxy, {png}).entered);
        run("close");
        QCOMPARE(enter(), QString());
        QVERIFY(!QFile::exists(png));
    }
    void toolbarCustomizationComesBack()
    {
        const QStringList defaults = window()->toolbarItems();
        run("customizeToolbar");
        ToolbarCustomizer* customizer = window()->toolbarCustomizer();
        QVERIFY(customizer && customizer->isVisible());
        // Nothing runs while the toolbar is edited.
        QCOMPARE(commands(), QStringList());
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
        QVERIFY(action("open")->isEnabled());

        // The next start shows the user's toolbar; back to the default set, nothing is kept.
        _app.reset();
        _defaults->synchronize();
        _defaults = std::make_unique<UserDefaults>(path("prefs.plist"));
        restart();
        QCOMPARE(window()->toolbarItems(), chosen);
        run("customizeToolbar");
        window()->toolbarCustomizer()->useDefaultSet();
        window()->toolbarCustomizer()->accept();
        QCOMPARE(window()->toolbarItems(), defaults);
        QVERIFY(!_defaults->hasStoredValue(QLatin1String(CommandTable::kToolbarIdentifier)));

        // An item of another version keeps its place, on the toolbar and through the dialog.
        const QStringList later = {defaults.at(0), QStringLiteral("ZTLater"), defaults.at(1)};
        _defaults->setObject(later, QLatin1String(CommandTable::kToolbarIdentifier));
        restart();
        QCOMPARE(window()->toolBar()->actions().size(), 3);
        run("customizeToolbar");
        window()->toolbarCustomizer()->accept();
        QCOMPARE(window()->toolbarItems(), later);
    }
    void batchFramesIntoFolder_data()
    {
        // Several photos handed over at once (a second launch, the desktop) or dropped on the
        // window come to the sheet as the menu's do. An existing output is kept byte for byte
        // when the user skips existing ones, and replaced when they replace all.
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("via");
        QTest::newRow("skip existing") << QStringLiteral("skipExisting") << QStringLiteral("hand");
        QTest::newRow("replace all") << QStringLiteral("replaceAll") << QStringLiteral("drop");
    }
    void batchFramesIntoFolder()
    {
        QFETCH(QString, answer);
        QFETCH(QString, via);
        _app->mainWindow()->show();
        QList<QByteArray> names = photos(3, QSize(40, 30), "small");
        QVERIFY(writeBytes(path("broken.png"), "no picture"));
        names << QFile::encodeName(path("broken.png"));
        QStringList files;
        for (const QByteArray& name : names)
            files << QFile::decodeName(name);
        const QString out = path("out-" + answer);
        QVERIFY(QDir().mkpath(out));
        QVERIFY(writeBytes(out + "/small1.jpg", "framed before"));
        if (via == "drop")
            dropFiles(_app->previewView(), files);
        else
            _app->openFiles(names);
        BatchSheet* sheet = _app->batchSheet();
        QVERIFY(sheet && sheet->isVisible());
        sheet->setFolder(out);
        QSignalSpy ended(sheet, &BatchSheet::batchEnded);
        whenModalShown(
            [answer](QWidget* modal) {
                if (auto* button = modal->findChild<QPushButton*>(answer))
                    button->click();
            },
            sheet);
        sheet->start();
        QVERIFY(ended.count() == 1 || ended.wait(30000));
        // The one that is no picture is named in the summary.
        const QString summary = sheet->findChild<QPlainTextEdit*>("summary")->toPlainText();
        QVERIFY(summary.contains("broken.png") && !summary.contains("small"));
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"small0.jpg", "small1.jpg", "small2.jpg"}));
        for (const int i : {0, 1, 2}) {
            const QString name = out + QStringLiteral("/small%1.jpg").arg(i);
            if (i == 1 && answer == "skipExisting")
                QCOMPARE(readAll(name), QByteArray("framed before"));
            else
                QCOMPARE(QImageReader(name).size(), QSize(40 + i, 30));
        }
    }
    void batchCancelLeavesNoPartialFile()
    {
        // Cancel frees the sheet at once; the photos being framed then are never written, and
        // no hidden file stays.
        _app->mainWindow()->show();
        const QList<QByteArray> names = photos(12, QSize(1600, 1200), "big");
        const QString out = path("cancelled");
        _app->frameSeveral(names);
        BatchSheet* sheet = _app->batchSheet();
        QVERIFY(sheet);
        sheet->setFolder(out);
        QSignalSpy ended(sheet, &BatchSheet::batchEnded);
        QSignalSpy workEnded(sheet, &BatchSheet::workEnded);
        sheet->start();
        QTRY_VERIFY_WITH_TIMEOUT(sheet->framedCount() >= 1, 60000);
        QElapsedTimer clock;
        clock.start();
        sheet->findChild<QPushButton*>("cancelButton")->click();
        QCOMPARE(ended.count(), 1);
        QVERIFY(!sheet->isRunning() && clock.elapsed() < 1000);
        const QStringList atCancel = QDir(out).entryList(QDir::Files);
        QVERIFY(workEnded.count() == 1 || workEnded.wait(60000));
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), atCancel);
        QVERIFY(atCancel.size() < names.size());
        for (const QString& name : atCancel)
            QVERIFY(QImageReader(out + "/" + name).canRead());
    }
};

QTEST_MAIN(TestAppController)
#include "moc_TestSupport.cpp"
#include "test_appcontroller.moc"
