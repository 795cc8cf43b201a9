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
#include <QDesktopServices>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QtTest>

namespace {

QString writePhoto(const QString& path, QSize size = QSize(60, 40), QColor color = Qt::blue)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return image.save(path) ? path : QString();
}

QString writeText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write("shopping list\n");
    return path;
}

// As the desktop delivers it: the drop goes where the drag entered.
bool drop(QWidget* view, const QString& path)
{
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &drop);
    return enter.isAccepted();
}

// Answers the next message sheet of the window with its default button and reports what
// it said.
struct SheetAnswer {
    QString title;
    QString message;
    bool shown = false;
};

void answerNextSheet(ZTWindow* window, SheetAnswer* answer)
{
    QTimer::singleShot(0, window, [window, answer] {
        auto* box = window->findChild<QMessageBox*>();
        if (!box) {
            answerNextSheet(window, answer);
            return;
        }
        answer->shown = true;
        answer->title = box->text();
        answer->message = box->informativeText();
        box->defaultButton()->click();
    });
}

// Stands for the desktop's browser and mail program.
class LinkCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

} // namespace

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
    void damagedPhotoOpensWithAWarning();
    void documentKeepsFrameUntilClosed();
    void openCloseCycles();
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
    void qualityControlsFollowModel();
    void droppedPictureIsADocument();
    void sizeLimitSaysWhatItDid();
    void fieldsShowWhatIsUsed_data();
    void fieldsShowWhatIsUsed();
    void commandsFollowTheirRules_data();
    void commandsFollowTheirRules();
    void aboutWindowAndLinks();
    void quittingRemovesTemporaryFiles();
    void startUp_data();
    void startUp();
    void proxyIconPerFormat_data();
    void proxyIconPerFormat();
    void proxyPreparesFileOnEntry();
    void toolbarItem_data();
    void toolbarItem();
    void toolbarCustomizationComesBack();

private:
    QTemporaryDir _dir;
    std::unique_ptr<UserDefaults> _defaults;
    std::unique_ptr<AppController> _app;
    QString path(const QString& name) const { return _dir.filePath(name); }
    void open(const QString& name) { QVERIFY(_app->applicationOpenFile(writePhoto(path(name)))); }
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
    QTest::newRow("1048575") << qint64(1048575) << "1024.00 KB";
    QTest::newRow("1048576") << qint64(1048576) << "1.00 MB";
    QTest::newRow("negative") << qint64(-5) << "-5 bytes";
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
    QTest::newRow("photo") << 1600.0 << 1200.0 << "Velluma (1600 x 1200 pixels)";
    QTest::newRow("rounded") << 639.6 << 479.5 << "Velluma (640 x 480 pixels)";
    QTest::newRow("no photo") << 0.0 << 0.0 << "Velluma";
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
    QTest::newRow("opened, not an image") << "open"
                                          << "notes.txt";
    QTest::newRow("opened, missing") << "open"
                                     << "gone.jpg";
    QTest::newRow("dropped, not an image") << "drop"
                                           << "notes.txt";
    QTest::newRow("handed over, not an image") << "hand over"
                                               << "notes.txt";
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
            return drop(preview, file);
        if (via == "open")
            return _app->applicationOpenFile(file);
        _app->openFiles({QFile::encodeName(file)});
        return true;
    };

    _app->outputPanel()->filesizeField()->setText(QStringLiteral("12 bytes"));
    QVERIFY(openFile(writePhoto(path("Beach.day.png"), QSize(64, 48))));
    const QString title = QStringLiteral("Velluma (64 x 48 pixels)");
    QCOMPARE(_app->filename(), QStringLiteral("Beach.day"));
    QCOMPARE(_app->mainWindow()->windowTitle(), title);
    QCOMPARE(preview->mainImage().size(), QSize(64, 48));
    QCOMPARE(_app->outputPanel()->filesizeField()->text(), QString());
    const bool hadMetadata = _app->imageMetadata().isEmpty();

    SheetAnswer answer;
    answerNextSheet(_app->mainWindow(), &answer);
    writeText(path(QStringLiteral("notes.txt")));
    QCOMPARE(openFile(path(bad)), via != "open");
    QVERIFY(answer.shown);
    QCOMPARE(answer.title, QStringLiteral("Unable to Open '%1'").arg(bad));
    QCOMPARE(answer.message, QStringLiteral("This is probably because it is not an image file."));
    QCOMPARE(_app->filename(), QStringLiteral("Beach.day"));
    QCOMPARE(preview->mainImage().pixel(3, 3), QColor(Qt::blue).rgb());
    QCOMPARE(_app->mainWindow()->windowTitle(), title);
    QCOMPARE(_app->imageMetadata().isEmpty(), hadMetadata);
}

void TestAppController::damagedPhotoOpensWithAWarning()
{
    const QString cut = path(QStringLiteral("cut.jpg"));
    QVERIFY(noisePhoto(120, 90).save(cut, "JPEG", 90));
    const QByteArray whole = readAll(cut);
    QVERIFY(writeFile(cut, whole.left(whole.size() * 3 / 10)));
    SheetAnswer answer;
    answerNextSheet(_app->mainWindow(), &answer);
    QVERIFY(_app->applicationOpenFile(cut));
    QVERIFY(answer.shown);
    QCOMPARE(answer.title, QStringLiteral("'cut.jpg' Is Damaged"));
    QVERIFY(answer.message.contains(QStringLiteral("the data ends early")));
    QCOMPARE(_app->previewView()->mainImage().size(), QSize(120, 90));
}

void TestAppController::documentKeepsFrameUntilClosed()
{
    // The commands that need a photo follow it; the toolbar's tooltips name them.
    auto enabledCommands = [this] {
        QStringList names;
        for (QAction* action : _app->toolBar()->actions()) {
            if (action->isEnabled() && !action->isSeparator() && !action->toolTip().isEmpty())
                names << action->toolTip();
        }
        return names;
    };
    const QStringList needPhoto = {"Save image", "Copy image to clipboard", "Clear image",
                                   "Flip Border Horizontally"};
    const QStringList always = {"Open image", "Preferences"};
    for (const QString& name : needPhoto)
        QVERIFY2(!enabledCommands().contains(name), qPrintable(name));
    for (const QString& name : always)
        QVERIFY2(enabledCommands().contains(name), qPrintable(name));

    // A second photo keeps the frame, its colour and the flip.
    QImage frame(30, 20, QImage::Format_ARGB32);
    frame.fill(Qt::transparent);
    const QString framePath = path(QStringLiteral("Oval.png"));
    QVERIFY(frame.save(framePath));
    open(QStringLiteral("one.png"));
    for (const QString& name : needPhoto)
        QVERIFY2(enabledCommands().contains(name), qPrintable(name));
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
    QCOMPARE(_app->previewView()->toolTip(), QStringLiteral("Drop an image file here to open."));
    QVERIFY(!enabledCommands().contains("Save image"));
}

// The sanitizer build runs this under LeakSanitizer: memory lost by any one cycle of what a
// session does with photos (open, frame, write, close) is reported when the test ends.
void TestAppController::openCloseCycles()
{
    QImage frame(120, 80, QImage::Format_ARGB32);
    frame.fill(QColor(0, 0, 0, 100));
    const QString framePath = path(QStringLiteral("Frame.png"));
    QVERIFY(frame.save(framePath));
    _app->setBorderPath(framePath);
    const QString photos[] = {writePhoto(path(QStringLiteral("a.jpg")), QSize(300, 200)),
                              writePhoto(path(QStringLiteral("b.png")), QSize(200, 300))};
    for (int cycle = 0; cycle < 50; ++cycle) {
        QVERIFY(_app->applicationOpenFile(photos[cycle % 2]));
        QString error;
        QVERIFY2(!_app->writeTmpFile(&error).isEmpty(), qPrintable(error));
        _app->closeImage();
        QVERIFY(!_app->previewView()->hasImage());
    }
}

void TestAppController::exportFollowsThePreview()
{
    // What the preview holds is what the export writes: a frame set on the preview alone,
    // with no word to the renderer, shows in the next file.
    open(QStringLiteral("one.png"));
    const QString target = path(QStringLiteral("out.png"));
    QList<bool> busyStates;
    QString nested = QStringLiteral("not asked");
    BackgroundRunner* runner = _app->findChild<BackgroundRunner*>();
    QVERIFY(runner);
    connect(runner, &BackgroundRunner::busyChanged, this, [&](bool isBusy) {
        busyStates << isBusy;
        // A second export asked for meanwhile is refused.
        if (isBusy)
            nested = _app->writeImageToFile(path(QStringLiteral("second.png")), FormatPNG, 90);
    });
    QCOMPARE(_app->writeImageToFile(target, FormatPNG, 90), target);
    QCOMPARE(busyStates, (QList<bool>{true, false}));
    QVERIFY(nested.isEmpty());
    QVERIFY(!QFile::exists(path(QStringLiteral("second.png"))));
    QCOMPARE(QImage(target).pixel(30, 20), QColor(Qt::blue).rgb());

    QImage frame(60, 40, QImage::Format_ARGB32);
    frame.fill(QColor(200, 10, 10));
    _app->previewView()->setBorderImage(frame);
    QCOMPARE(_app->writeImageToFile(target, FormatPNG, 90), target);
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
    QImage stored(40, 20, QImage::Format_RGB32);
    stored.fill(Qt::black);
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
    QCOMPARE(_app->writeImageToFile(fromWindow, FormatPNG, 90), fromWindow);

    const QString outFolder = path(QStringLiteral("batch"));
    QProcess batch;
    batch.start(QStringLiteral(VELLUMA_FRAME_BINARY),
                {QStringLiteral("-f"), framePath, QStringLiteral("-F"), QStringLiteral("png"),
                 QStringLiteral("--no-rotate"), QStringLiteral("-o"), outFolder, photoPath});
    QVERIFY(batch.waitForFinished(30000));
    QCOMPARE(batch.exitCode(), 0);
    const QImage window = QImage(fromWindow).convertToFormat(QImage::Format_ARGB32);
    const QImage batchOut =
        QImage(outFolder + QStringLiteral("/wide.png")).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(window.size(), QSize(90, 50));
    QVERIFY(window == batchOut);
    QCOMPARE(window.pixel(85, 25), qRgb(255, 255, 255));
    QCOMPARE(window.pixel(5, 5), QColor(Qt::blue).rgb());
}

void TestAppController::saveAsksBeforeReplacingTheOriginal()
{
    // Save, Return, Return: the dialog proposes the photo's own name in its folder, and the
    // question that follows must not replace the photo by default.
    const QString original = writePhoto(path(QStringLiteral("one.png")));
    const QByteArray before = readAll(original);
    QVERIFY(_app->applicationOpenFile(original));
    _app->outputSettings()->setFileFormat(FormatPNG);
    struct Seen {
        QString folder, informative, defaultButton;
    } seen;
    // Answers the save dialog with `file` (or as proposed) and the question with Return.
    auto answer = [&seen](const QString& file, bool asked = true) {
        whenModalShown([&seen, file, asked](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            QVERIFY(dialog);
            seen.folder = dialog->directory().absolutePath();
            if (asked)
                whenModalShown(
                    [&seen](QWidget* alert) {
                        auto* box = qobject_cast<QMessageBox*>(alert);
                        QVERIFY(box);
                        seen.informative = box->informativeText();
                        seen.defaultButton = box->defaultButton()->text();
                        QTest::keyClick(box, Qt::Key_Return);
                    },
                    dialog);
            // Typed into the name field, as a user would.
            if (!file.isEmpty())
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(file);
            QTest::keyClick(dialog, Qt::Key_Return);
        });
    };
    answer(QString());
    _app->saveDocumentAs();
    QCOMPARE(seen.folder, _dir.path());
    QCOMPARE(seen.defaultButton, QStringLiteral("Cancel"));
    QVERIFY(seen.informative.contains(QStringLiteral("original photo")));
    QCOMPARE(readAll(original), before);

    // Any other file keeps "Replace" as the default.
    const QString other = writePhoto(path(QStringLiteral("other.png")), QSize(5, 5));
    seen = {};
    answer(other);
    _app->saveDocumentAs();
    QCOMPARE(seen.defaultButton, QStringLiteral("Replace"));
    QCOMPARE(QImage(other).size(), QSize(60, 40));

    // The folder saved into last is where the next run's dialog starts.
    QVERIFY(QDir(_dir.path()).mkdir(QStringLiteral("saved")));
    seen = {};
    answer(path(QStringLiteral("saved/framed")), false);
    _app->saveDocumentAs();
    QVERIFY(QFile::exists(path(QStringLiteral("saved/framed.png"))));
    _app.reset();
    _app = std::make_unique<AppController>(*_defaults);
    QVERIFY(_app->applicationOpenFile(original));
    whenModalShown([&seen](QWidget* modal) {
        seen.folder = qobject_cast<QFileDialog*>(modal)->directory().absolutePath();
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    _app->saveDocumentAs();
    QCOMPARE(seen.folder, path(QStringLiteral("saved")));
}

void TestAppController::saveDialogNamesAndWrites_data()
{
    // The settings say JPEG at quality 80.
    QTest::addColumn<QString>("entered");
    QTest::addColumn<int>("chosenFormat"); // picked in the dialog's pop-up; 0: left alone
    QTest::addColumn<QString>("typedQuality");
    QTest::addColumn<QString>("saved");
    QTest::addColumn<int>("quality");
    QTest::newRow("image extension dropped") << "Beach.JPG" << 0 << ""
                                             << "Beach.jpg" << 80;
    QTest::newRow("other type's extension too") << "Beach.png" << 0 << ""
                                                << "Beach.jpg" << 80;
    QTest::newRow("other extension kept") << "Beach.final" << 0 << ""
                                          << "Beach.final.jpg" << 80;
    QTest::newRow("TIFF in the pop-up") << "Beach" << int(FormatTIFF) << ""
                                        << "Beach.tiff" << 80;
    QTest::newRow("PNG in the pop-up") << "Beach.jpg" << int(FormatPNG) << ""
                                       << "Beach.png" << 80;
    QTest::newRow("quality of the dialog") << "Beach" << 0 << "55"
                                           << "Beach.jpg" << 55;
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
    settings->setFileFormat(FormatJPEG);
    settings->setJpegQuality(80);
    const int format = chosenFormat ? chosenFormat : int(FormatJPEG);
    struct Seen {
        int tag = 0, mainTag = 0;
        QString quality;
        bool qualityEnabled = false, stepperEnabled = false;
    } seen;
    whenModalShown([&](QWidget* modal) {
        auto* pop = modal->findChild<QComboBox*>(QStringLiteral("savePanelFileFormatPop"));
        auto* field = modal->findChild<QLineEdit*>(QStringLiteral("savePanelQualityTF"));
        QVERIFY(pop && field);
        seen.tag = pop->currentData().toInt();
        seen.quality = field->text();
        if (chosenFormat)
            pop->setCurrentIndex(pop->findData(chosenFormat));
        seen.mainTag = _app->outputPanel()->formatPopUp()->currentData().toInt();
        seen.qualityEnabled = field->isEnabled();
        seen.stepperEnabled =
            modal->findChild<ZTStepper*>(QStringLiteral("savePanelQualityStepper"))->isEnabled();
        if (!typedQuality.isEmpty())
            field->setText(typedQuality);
        modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path(entered));
        QTest::keyClick(modal, Qt::Key_Return);
    });
    _app->saveDocumentAs();
    QCOMPARE(seen.tag, int(FormatJPEG));
    QCOMPARE(seen.quality, QStringLiteral("80"));
    QCOMPARE(seen.mainTag, format);
    QCOMPARE(seen.qualityEnabled, format == FormatJPEG);
    QCOMPARE(seen.stepperEnabled, format == FormatJPEG);
    QCOMPARE(settings->fileFormat(), format);
    QCOMPARE(settings->jpegQuality(), 80);
    QCOMPARE(folder.entryList({QStringLiteral("Beach*")}), QStringList{saved});
    // The file is what writing at that quality gives, and not what the setting would give.
    const QString expected =
        _app->writeImageToFile(path(QStringLiteral("expected")), format, quality);
    QCOMPARE(readAll(path(saved)), readAll(expected));
    if (format == FormatJPEG)
        QVERIFY(readAll(expected) != readAll(_app->writeImageToFile(path(QStringLiteral("other")),
                                                                    format, 135 - quality)));
}

void TestAppController::nameStaysInsideTemporaryFolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("an existing file's path")
        << path(QStringLiteral("notes.txt")) << path(QStringLiteral("notes.txt")).replace('/', '_');
    QTest::newRow("home") << "~/notes"
                          << "~_notes";
    QTest::newRow("dot") << "."
                         << "_";
    QTest::newRow("dot dot") << ".."
                             << "__";
    QTest::newRow("empty") << ""
                           << "Untitled";
}

void TestAppController::nameStaysInsideTemporaryFolder()
{
    // Whatever the name field holds, copy writes inside our temporary folder and leaves
    // the user's files alone.
    QFETCH(QString, name);
    QFETCH(QString, fileName);
    const QString notes = writeText(path(QStringLiteral("notes.txt")));
    open(QStringLiteral("one.png"));
    _app->outputPanel()->filenameField()->setText(name);
    _app->copy();
    QCOMPARE(QFile(notes).size(), qint64(14));
    const QList<QUrl> urls = QGuiApplication::clipboard()->mimeData()->urls();
    QCOMPARE(urls.size(), 1);
    QCOMPARE(urls.first().toLocalFile(), TmpFilePath::tmpFolder() + "/" + fileName + ".jpg");
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
    if (picture) {
        QImage red(30, 20, QImage::Format_RGB32);
        red.fill(Qt::red);
        mime->setImageData(red);
    } else {
        mime->setText(QStringLiteral("shopping list"));
    }
    QGuiApplication::clipboard()->setMimeData(mime);
    _app->paste();
    QCOMPARE(_app->previewView()->framedPhoto().photo.size(), shown);
    // The name and metadata are those of the photo opened before, or none.
    QCOMPARE(_app->filename(), photoOpen ? QStringLiteral("tagged") : QString());
    QCOMPARE(_app->imageMetadata().value(QStringLiteral("Exif.Image.Artist")),
             photoOpen ? QStringLiteral("Ann") : QString());
    QCOMPARE(_app->interface()->action(QStringLiteral("save"))->isEnabled(), !shown.isEmpty());
}

void TestAppController::colourTurnsTransparencyOff()
{
    OutputSettings* settings = _app->outputSettings();
    QCheckBox* transparent = _app->outputPanel()->transparentBackgroundBox();
    PreviewView* preview = _app->previewView();
    open(QStringLiteral("one.png"));
    settings->setFileFormat(FormatPNG);
    settings->setTransparentBackground(true);
    QVERIFY(!preview->borderColor().has_value());
    QVERIFY(transparent->isChecked());

    // The user's drag stays where it was released.
    const QPointF start(20, 20);
    for (auto [type, at] : {std::pair{QEvent::MouseButtonPress, start},
                            std::pair{QEvent::MouseMove, start + QPointF(7, -4)},
                            std::pair{QEvent::MouseButtonRelease, start + QPointF(7, -4)}}) {
        QMouseEvent event(type, at, preview->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(preview, &event);
    }
    QCOMPARE(preview->translation(), QPointF(7, 4));

    _app->setColor(QColor(10, 20, 30));
    QVERIFY(!settings->transparentBackground());
    QVERIFY(!transparent->isChecked());
    QCOMPARE(preview->borderColor(), std::optional<QColor>(QColor(10, 20, 30)));
    QCOMPARE(preview->translation(), QPointF(7, 4));
    const QImage coloured = preview->image();
    _app->preferenceDidChange();
    QCOMPARE(preview->translation(), QPointF(7, 4));
    QCOMPARE(preview->image(), coloured);

    // Back to transparent and to the colour again: the chosen colour returns.
    transparent->click();
    QVERIFY(!preview->borderColor().has_value());
    transparent->click();
    QCOMPARE(preview->borderColor(), std::optional<QColor>(QColor(10, 20, 30)));
}

void TestAppController::formatDisablesControls_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("quality");
    QTest::addColumn<bool>("transparent");
    QTest::addColumn<bool>("metadata");
    QTest::newRow("JPEG") << int(FormatJPEG) << true << false << true;
    QTest::newRow("PNG") << int(FormatPNG) << false << true << false;
    QTest::newRow("TIFF") << int(FormatTIFF) << false << true << true;
}

void TestAppController::formatDisablesControls()
{
    QFETCH(int, format);
    QFETCH(bool, quality);
    QFETCH(bool, transparent);
    QFETCH(bool, metadata);
    OutputPanel* panel = _app->outputPanel();
    // Chosen in the pop-up, as the user would.
    panel->formatPopUp()->setCurrentIndex(panel->formatPopUp()->findData(format));
    QCOMPARE(_app->outputSettings()->fileFormat(), format);
    QCOMPARE(_defaults->integerForKey(DefFileFormat), format);
    QCOMPARE(panel->qualityField()->isEnabled(), quality);
    QCOMPARE(panel->qualityStepper()->isEnabled(), quality);
    QCOMPARE(panel->limitFilesizeBox()->isEnabled(), quality);
    QCOMPARE(panel->transparentBackgroundBox()->isEnabled(), transparent);
    QCOMPARE(panel->preserveMetadataBox()->isEnabled(), metadata);

    // And the other way: the model moves the pop-up.
    _app->outputSettings()->setFileFormat(FormatJPEG);
    QCOMPARE(panel->formatPopUp()->currentData().toInt(), int(FormatJPEG));
}

void TestAppController::staleChangesEmptySizeDisplay_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("format") << "format";
    QTest::newRow("quality") << "quality";
    QTest::newRow("limit switch") << "limit";
    QTest::newRow("limit kilobytes in the defaults") << "limitKB";
    QTest::newRow("transparency") << "transparent";
    QTest::newRow("metadata") << "metadata";
    QTest::newRow("colour") << "colour";
    QTest::newRow("frame") << "frame";
    QTest::newRow("flip") << "flip";
    QTest::newRow("photo") << "photo";
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
    QVERIFY(_app->outputPanel()->filesizeField()->text() != QStringLiteral("-"));

    OutputSettings* settings = _app->outputSettings();
    OutputPanel* panel = _app->outputPanel();
    if (change == "format")
        settings->setFileFormat(FormatTIFF);
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

    QCOMPARE(panel->filesizeField()->text(), QString());
    // The written-file flag went down, even for the document and options it was written from.
    QVERIFY(!_app->exportRenderer().isValidCacheAtPath(written, before, options));
}

void TestAppController::qualityControlsFollowModel()
{
    OutputPanel* panel = _app->outputPanel();
    _app->outputSettings()->setJpegQuality(87);
    QCOMPARE(panel->qualityField()->text(), QStringLiteral("87"));
    QCOMPARE(panel->qualityStepper()->value(), 87);
    const ZTStepper* stepper = panel->qualityStepper();
    QCOMPARE(QList<int>({stepper->increment(), stepper->minimum(), stepper->maximum()}),
             QList<int>({5, 1, 100}));

    // Typed into the field.
    panel->qualityField()->setText(QStringLiteral("42"));
    emit panel->qualityField()->editingFinished();
    QCOMPARE(_app->outputSettings()->jpegQuality(), 42);
    QCOMPARE(panel->qualityStepper()->value(), 42);

    // Held down, the stepper shows every step in the field at once and stores the snapped
    // value when it is let go.
    _app->mainWindow()->show();
    QVERIFY(QTest::qWaitForWindowExposed(_app->mainWindow()));
    ZTStepper* arrows = panel->qualityStepper();
    const QPoint up(arrows->width() / 2, arrows->height() / 4);
    QTest::mousePress(arrows, Qt::LeftButton, {}, up);
    QCOMPARE(panel->qualityField()->text(), QStringLiteral("47"));
    QTRY_COMPARE(panel->qualityField()->text(), QStringLiteral("52"));
    QCOMPARE(_app->outputSettings()->jpegQuality(), 42);
    QTest::mouseRelease(arrows, Qt::LeftButton, {}, up);
    const int stored = _app->outputSettings()->jpegQuality();
    QVERIFY(stored >= 50 && stored % 5 == 0);
    QCOMPARE(panel->qualityField()->text(), QString::number(stored));

    // The size limit's kilobytes go straight into the defaults.
    panel->filesizeLimitField()->setText(QStringLiteral("750"));
    emit panel->filesizeLimitField()->editingFinished();
    QCOMPARE(_defaults->integerForKey(DefFilesizeLimit), 750);
}

void TestAppController::droppedPictureIsADocument()
{
    // A picture dragged from a browser carries no file; it is a document all the same.
    QMimeData mime;
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    mime.setImageData(picture);
    PreviewView* preview = _app->previewView();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(preview, &enter);
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(preview, &dropped);
    QVERIFY(preview->hasImage());
    for (const char* command : {"save", "copy", "close", "colors", "flipH"})
        QVERIFY2(_app->interface()->action(QLatin1String(command))->isEnabled(), command);
    _app->copy();
    const QList<QUrl> urls = QGuiApplication::clipboard()->mimeData()->urls();
    QCOMPARE(urls.size(), 1);
    QCOMPARE(QImage(urls.first().toLocalFile()).size(), QSize(40, 30));
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
    SheetAnswer answer;
    answerNextSheet(_app->mainWindow(), &answer);
    _app->copy();
    QVERIFY(answer.shown);
    QCOMPARE(answer.title, QStringLiteral("Unable to Save 'noise'"));
    QCOMPARE(answer.message, QStringLiteral("No JPEG quality brings the picture under 1 KB."));
    QVERIFY(_app->mainWindow()->statusBar()->currentMessage().isEmpty());
}

void TestAppController::fieldsShowWhatIsUsed_data()
{
    QTest::addColumn<bool>("quality"); // else the size limit field
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("then");
    QTest::addColumn<int>("used");
    // Quality in use 85, limit 400 KB.
    QTest::newRow("quality 0, Tab") << true << "0"
                                    << "tab" << 85;
    QTest::newRow("quality 150, Return") << true << "150"
                                         << "return" << 100;
    QTest::newRow("quality cleared, Tab") << true << ""
                                          << "tab" << 85;
    QTest::newRow("quality 10, Copy without Return") << true << "10"
                                                     << "copy" << 10;
    QTest::newRow("limit 0, Tab") << false << "0"
                                  << "tab" << 400;
    QTest::newRow("limit cleared, Return") << false << ""
                                           << "return" << 400;
    QTest::newRow("limit too large, Return") << false << "9999999"
                                             << "return" << 1048576;
    QTest::newRow("limit 90, Copy without Return") << false << "90"
                                                   << "copy" << 90;
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
        if (!interface->action(QLatin1String(command.identifier))->isEnabled())
            off << QLatin1String(command.identifier);
    }
    off.sort();
    disabled.sort();
    QCOMPARE(off, disabled);
    QCOMPARE(interface->action(QStringLiteral("photoBrowser"))->toolTip() ==
                 QStringLiteral("This feature requires Mac OS X 10.5 or later"),
             system < 0x1050);
    QStringList titles;
    for (QAction* menu : _app->mainWindow()->menuBar()->actions())
        titles << menu->text();
    QCOMPARE(titles, QStringList({"&File", "&Edit", "F&rame", "Send &To", "&Window", "&Help"}));
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
    for (const char* scheme : {"https", "mailto"})
        QDesktopServices::setUrlHandler(QLatin1String(scheme), &desktop, "open");
    const auto restore = qScopeGuard([] {
        for (const char* scheme : {"https", "mailto"})
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
    });
    interface->action(QStringLiteral("website"))->trigger();
    interface->action(QStringLiteral("feedback"))->trigger();
    emit about->findChild<QLabel*>(QStringLiteral("linksLabel"))
        ->linkActivated(WebLinks::contactUrl().toString());
    const QList<QUrl> expected = {WebLinks::websiteUrl(), WebLinks::contactUrl(),
                                  WebLinks::contactUrl()};
    QCOMPARE(desktop.opened, expected);
    QCOMPARE(WebLinks::contactUrl().scheme(), QStringLiteral("mailto"));
}

void TestAppController::quittingRemovesTemporaryFiles()
{
    open(QStringLiteral("one.png"));
    const QString written = _app->writeTmpFile();
    QVERIFY(QFile::exists(written));
    const QString folder = QFileInfo(written).absolutePath();
    QVERIFY(!folder.startsWith(_dir.path()));
    _app->applicationShouldTerminate();
    QVERIFY(!QFileInfo::exists(folder));
    // The window's place is kept for the next launch.
    QVERIFY(!_defaults->stringForKey(QStringLiteral("mainWindow")).isEmpty());
}

void TestAppController::startUp_data()
{
    // What the user stored before this launch; "unset" means never stored.
    QTest::addColumn<QString>("updaterCheck");
    QTest::addColumn<QString>("ownCheck");
    QTest::addColumn<bool>("checks");
    // The updater's own setting is taken over although the factory defaults carry ours.
    QTest::newRow("updater checked, never chosen here") << "yes"
                                                        << "unset" << true;
    QTest::newRow("nothing stored") << "unset"
                                    << "unset" << false;
    QTest::newRow("chosen here wins") << "yes"
                                      << "no" << false;
    QTest::newRow("chosen here, updater off") << "no"
                                              << "yes" << true;
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
}

void TestAppController::proxyIconPerFormat_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("icon");
    QTest::newRow("JPEG") << int(FormatJPEG) << "image-jpeg";
    QTest::newRow("PNG") << int(FormatPNG) << "image-png";
    QTest::newRow("TIFF") << int(FormatTIFF) << "image-tiff";
    QTest::newRow("GIF") << int(FormatGIF) << "image-gif";
    QTest::newRow("unknown code") << 7 << "image-jpeg";
}

void TestAppController::proxyIconPerFormat()
{
    QFETCH(int, format);
    QFETCH(QString, icon);
    QCOMPARE(ProxyView::iconNameForFormat(format), icon);
    // The icon follows the output format without reopening the photo.
    ProxyView* proxy = _app->interface()->proxyView();
    const qint64 before = proxy->image().cacheKey();
    _app->outputSettings()->setFileFormat(format == FormatPNG ? FormatTIFF : FormatPNG);
    _app->outputSettings()->setFileFormat(format);
    QVERIFY(!proxy->image().isNull());
    QVERIFY(proxy->image().cacheKey() != before);
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
    QCOMPARE(proxy->toolTip(), QString());
    QCOMPARE(enter(), QString());

    open(QStringLiteral("Beach.png"));
    QVERIFY(proxy->isEnabled());
    QVERIFY(!proxy->toolTip().isEmpty());
    _app->outputSettings()->setFileFormat(FormatJPEG);
    const QString jpeg = enter();
    QVERIFY(jpeg.endsWith(QLatin1String("Beach.jpg")));
    // Nothing changed: the same file, not written again and never removed in between.
    const QDateTime written = QFileInfo(jpeg).lastModified();
    QTest::qWait(20);
    QCOMPARE(enter(), jpeg);
    QCOMPARE(QFileInfo(jpeg).lastModified(), written);
    _app->outputSettings()->setFileFormat(FormatPNG);
    const QString png = enter();
    QVERIFY(png.endsWith(QLatin1String("Beach.png")));
    QCOMPARE(QImage(png).size(), QSize(60, 40));
    QVERIFY(!QFile::exists(jpeg));

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(png)});
    QDragEnterEvent offered(QPoint(4, 4), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(proxy, &offered);
    QVERIFY(!offered.isAccepted());

    _app->closeImage();
    QVERIFY(!proxy->isEnabled());
    QCOMPARE(proxy->toolTip(), QString());
}

void TestAppController::toolbarItem_data()
{
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("paletteLabel");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("needsPhoto");
    const auto row = [](const char* identifier, const char* label, const char* paletteLabel,
                        const char* toolTip, bool needsPhoto) {
        QTest::newRow(identifier) << identifier << label << paletteLabel << toolTip << needsPhoto;
    };
    row("ZTOpen", "Open", "Open", "Open image", false);
    row("ZTSave", "Save", "Save", "Save image", true);
    row("ZTCopy", "Copy", "Copy", "Copy image to clipboard", true);
    row("ZTClear", "Clear", "Clear", "Clear image", true);
    row("showColors", "Colors", "Colors", "Show the colour dialog", true);
    row("FlipH", "Flip H", "Flip Horizontal", "Flip Border Horizontally", true);
    row("Trimlet", "Trimlet", "Trimlet", "Send to Trimlet", true);
    row("Shuttlebox", "Shuttlebox", "Shuttlebox", "Send to Shuttlebox", true);
    row("ZTPreferences", "Preferences", "Preferences", "Preferences", false);
    row("customize", "Customize", "Customize", "Customize the toolbar", false);
}

void TestAppController::toolbarItem()
{
    QFETCH(QString, identifier);
    QFETCH(QString, label);
    QFETCH(QString, paletteLabel);
    QFETCH(QString, toolTip);
    QFETCH(bool, needsPhoto);
    MainInterface* interface = _app->interface();
    QCOMPARE(interface->toolBar()->toolButtonStyle(), Qt::ToolButtonIconOnly);
    const qsizetype place = interface->toolbarItems().indexOf(identifier);
    QVERIFY(place >= 0);
    QAction* item = interface->toolBar()->actions().at(place);
    QCOMPARE(item->iconText(), label);
    QCOMPARE(item->toolTip(), toolTip);
    QVERIFY(!item->icon().isNull());
    QCOMPARE(item->isEnabled(), !needsPhoto);
    open(QStringLiteral("one.png"));
    QVERIFY(item->isEnabled());

    interface->runToolbarCustomization();
    QVERIFY(!item->isEnabled());
    auto* list = interface->toolbarCustomizer()->findChild<QListWidget*>("toolbarItems");
    QCOMPARE(list->item(int(place))->text(), paletteLabel);
    interface->toolbarCustomizer()->reject();
    QVERIFY(item->isEnabled());
}

void TestAppController::toolbarCustomizationComesBack()
{
    const QStringList defaults = {"ZTOpen",     "ZTSave",        "ZTCopy",        "ZTClear",
                                  "showColors", "FlipH",         "separator",     "Trimlet",
                                  "Shuttlebox", "flexibleSpace", "ZTPreferences", "customize"};
    QCOMPARE(
        CommandTable::allowedToolbarItems(),
        QStringList({"ZTOpen", "ZTSave", "ZTCopy", "ZTClear", "showColors", "FlipH", "Trimlet",
                     "Shuttlebox", "flexibleSpace", "separator", "ZTPreferences", "customize"}));
    QCOMPARE(_app->interface()->toolbarItems(), defaults);

    _app->runCustomizationPalette();
    ToolbarCustomizer* customizer = _app->interface()->toolbarCustomizer();
    QVERIFY(customizer && customizer->isVisible());
    for (const CommandTable::Command& command : CommandTable::commands())
        QVERIFY2(!_app->interface()->action(command.identifier)->isEnabled(), command.identifier);
    customizer->removeRow(2);
    QVERIFY(!customizer->addItem("ZTOpen"));
    QVERIFY(customizer->addItem("ZTCopy"));
    QVERIFY(customizer->addItem("separator"));
    QVERIFY(customizer->available().contains("separator"));
    customizer->moveRow(9, 0);
    customizer->accept();
    const QStringList chosen = {"ZTPreferences", "ZTOpen",        "ZTSave",    "ZTClear",
                                "showColors",    "FlipH",         "separator", "Trimlet",
                                "Shuttlebox",    "flexibleSpace", "customize", "ZTCopy",
                                "separator"};
    QCOMPARE(_app->interface()->toolbarItems(), chosen);
    QCOMPARE(_app->toolBar()->actions().size(), chosen.size());
    QVERIFY(_app->interface()->action("open")->isEnabled());

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
}

QTEST_MAIN(TestAppController)
#include "test_appcontroller.moc"
