#include "app/AppController.h"
#include "app/OutputPanel.h"
#include "app/OutputSettings.h"
#include "compositing/PreviewView.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "output/ExportRenderer.h"
#include "ui/ZTStepper.h"
#include "ui/ZTWindow.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QtTest>

namespace {

QString writePhoto(const QString& path, QSize size, QColor color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    if (!image.save(path))
        return QString();
    return path;
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
    void openingSetsNameSizeAndTitle();
    void openFailureKeepsPreviousPhoto();
    void secondPhotoKeepsFrameColourAndFlip();
    void closeImageEmptiesEverything();
    void postMaskLookup_data();
    void postMaskLookup();
    void colourTurnsTransparencyOff();
    void formatDisablesControls_data();
    void formatDisablesControls();
    void staleChangesEmptySizeDisplay_data();
    void staleChangesEmptySizeDisplay();
    void qualityControlsFollowModel();
    void colourAndPreferenceKeepReleasedPlace();
    void handedOverFilesOpenInTurn();
    void droppedFileOpensThroughController();
    void commandsFollowPhoto();
    void quittingRemovesTemporaryFiles();
    void updateCheckTakenOver();
    void launchCounter();
    void drawerCannotClose();

private:
    QTemporaryDir _dir;
    std::unique_ptr<UserDefaults> _defaults;
    std::unique_ptr<AppController> _app;
    QString path(const QString& name) const { return _dir.filePath(name); }
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
    QTest::newRow("one byte") << qint64(1) << "1 bytes";
    QTest::newRow("1023") << qint64(1023) << "1023 bytes";
    QTest::newRow("1024") << qint64(1024) << "1.00 KB";
    QTest::newRow("1536") << qint64(1536) << "1.50 KB";
    QTest::newRow("1048575") << qint64(1048575) << "1024.00 KB";
    QTest::newRow("1048576") << qint64(1048576) << "1.00 MB";
    QTest::newRow("2.5 MB") << qint64(2621440) << "2.50 MB";
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
    QTest::newRow("zero width") << 0.0 << 300.0 << "Velluma";
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

void TestAppController::openingSetsNameSizeAndTitle()
{
    const QString photo =
        writePhoto(path(QStringLiteral("Beach.day.png")), QSize(64, 48), Qt::blue);
    _app->outputPanel()->filesizeField()->setText(QStringLiteral("12 bytes"));
    QVERIFY(_app->applicationOpenFile(photo));
    QCOMPARE(_app->filename(), QStringLiteral("Beach.day"));
    QCOMPARE(_app->mainWindow()->windowTitle(), QStringLiteral("Velluma (64 x 48 pixels)"));
    QVERIFY(_app->previewView()->hasImage());
    QCOMPARE(_app->previewView()->mainImage().size(), QSize(64, 48));
    QCOMPARE(_app->outputPanel()->filesizeField()->text(), QString());
}

void TestAppController::openFailureKeepsPreviousPhoto()
{
    const QString photo = writePhoto(path(QStringLiteral("Beach.png")), QSize(64, 48), Qt::blue);
    QVERIFY(_app->applicationOpenFile(photo));
    const bool hadMetadata = _app->imageMetadata().isEmpty();

    const QString notes = path(QStringLiteral("notes.txt"));
    QFile file(notes);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("shopping list\n");
    file.close();

    SheetAnswer answer;
    answerNextSheet(_app->mainWindow(), &answer);
    QVERIFY(!_app->applicationOpenFile(notes));
    QVERIFY(answer.shown);
    QCOMPARE(answer.title, QStringLiteral("Unable to Open 'notes.txt'"));
    QCOMPARE(answer.message, QStringLiteral("This is probably because it is not an image file."));

    QCOMPARE(_app->filename(), QStringLiteral("Beach"));
    QCOMPARE(_app->previewView()->mainImage().size(), QSize(64, 48));
    QCOMPARE(_app->previewView()->mainImage().pixel(3, 3), QColor(Qt::blue).rgb());
    QCOMPARE(_app->mainWindow()->windowTitle(), QStringLiteral("Velluma (64 x 48 pixels)"));
    QCOMPARE(_app->imageMetadata().isEmpty(), hadMetadata);

    // A missing file is no image either.
    answerNextSheet(_app->mainWindow(), &answer);
    QVERIFY(!_app->applicationOpenFile(path(QStringLiteral("gone.jpg"))));
    QCOMPARE(answer.title, QStringLiteral("Unable to Open 'gone.jpg'"));
    QCOMPARE(_app->filename(), QStringLiteral("Beach"));
}

void TestAppController::secondPhotoKeepsFrameColourAndFlip()
{
    QImage frame(30, 20, QImage::Format_ARGB32);
    frame.fill(Qt::transparent);
    const QString framePath = path(QStringLiteral("Oval.png"));
    QVERIFY(frame.save(framePath));
    QVERIFY(_app->applicationOpenFile(
        writePhoto(path(QStringLiteral("one.png")), QSize(60, 40), Qt::blue)));
    _app->setBorderPath(framePath);
    _app->setColor(QColor(Qt::darkRed));
    _app->flipHorizontal();
    QVERIFY(_app->applicationOpenFile(
        writePhoto(path(QStringLiteral("two.png")), QSize(90, 40), Qt::green)));
    QCOMPARE(_app->borderPath(), framePath);
    QVERIFY(_app->shouldFlipHorizontal());
    QCOMPARE(_app->previewView()->borderColor(), std::optional<QColor>(QColor(Qt::darkRed)));
    QCOMPARE(_app->filename(), QStringLiteral("two"));
}

void TestAppController::closeImageEmptiesEverything()
{
    QVERIFY(_app->applicationOpenFile(
        writePhoto(path(QStringLiteral("one.png")), QSize(60, 40), Qt::blue)));
    _app->showColorPanel();
    QVERIFY(_app->colorPanel()->isVisible());
    _app->closeImage();
    QCOMPARE(_app->mainWindow()->windowTitle(), QStringLiteral("Velluma"));
    QVERIFY(!_app->previewView()->hasImage());
    QCOMPARE(_app->filename(), QString());
    QVERIFY(_app->imageMetadata().isEmpty());
    QVERIFY(!_app->colorPanel()->isVisible());
    QCOMPARE(_app->previewView()->toolTip(), QStringLiteral("Drop an image file here to open."));
}

void TestAppController::postMaskLookup_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("expected");
    QTest::newRow("jpg") << "/x/Oval.jpg"
                         << "/x/Oval_postmask.png";
    QTest::newRow("two dots") << "/x/Old.Gold.png"
                              << "/x/Old.Gold_postmask.png";
    QTest::newRow("no extension") << "/x/Plain"
                                  << "/x/Plain_postmask.png";
    QTest::newRow("dot in folder") << "/x.y/Heart"
                                   << "/x.y/Heart_postmask.png";
    QTest::newRow("no frame") << ""
                              << "";
}

void TestAppController::postMaskLookup()
{
    QFETCH(QString, frame);
    QFETCH(QString, expected);
    QCOMPARE(AppController::_postMaskPathForPath(frame), expected);

    // Only a file that is there counts.
    QImage mask(8, 8, QImage::Format_ARGB32);
    mask.fill(Qt::black);
    QVERIFY(mask.save(path(QStringLiteral("Heart_postmask.png"))));
    QVERIFY(!AppController::_postMaskImageForPath(path(QStringLiteral("Heart.png"))).isNull());
    QVERIFY(AppController::_postMaskImageForPath(path(QStringLiteral("Star.png"))).isNull());
}

void TestAppController::colourTurnsTransparencyOff()
{
    OutputSettings* settings = _app->outputSettings();
    settings->setFileFormat(FormatPNG);
    settings->setTransparentBackground(true);
    QVERIFY(!_app->previewView()->borderColor().has_value());
    QVERIFY(_app->outputPanel()->transparentBackgroundBox()->isChecked());

    _app->setColor(QColor(10, 20, 30));
    QVERIFY(!settings->transparentBackground());
    QVERIFY(!_app->outputPanel()->transparentBackgroundBox()->isChecked());
    QCOMPARE(_app->previewView()->borderColor(), std::optional<QColor>(QColor(10, 20, 30)));

    // Back to transparent and to the colour again: the chosen colour returns.
    _app->outputPanel()->transparentBackgroundBox()->click();
    QVERIFY(!_app->previewView()->borderColor().has_value());
    _app->outputPanel()->transparentBackgroundBox()->click();
    QCOMPARE(_app->previewView()->borderColor(), std::optional<QColor>(QColor(10, 20, 30)));
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
    QVERIFY(_app->applicationOpenFile(
        writePhoto(path(QStringLiteral("one.png")), QSize(60, 40), Qt::blue)));
    PreviewView* preview = _app->previewView();
    const QString written = preview->writeTmpFile();
    QVERIFY(!written.isEmpty());
    _app->updateFilesizeForFile(written);
    QVERIFY(!_app->outputPanel()->filesizeField()->text().isEmpty());
    QVERIFY(_app->outputPanel()->filesizeField()->text() != QStringLiteral("-"));

    OutputSettings* settings = _app->outputSettings();
    OutputPanel* panel = _app->outputPanel();
    if (change == QLatin1String("format"))
        settings->setFileFormat(FormatTIFF);
    else if (change == QLatin1String("quality"))
        settings->setJpegQuality(55);
    else if (change == QLatin1String("limit"))
        panel->limitFilesizeBox()->click();
    else if (change == QLatin1String("limitKB"))
        _defaults->setInteger(321, DefFilesizeLimit);
    else if (change == QLatin1String("transparent"))
        settings->setTransparentBackground(true);
    else if (change == QLatin1String("metadata"))
        panel->preserveMetadataBox()->click();
    else if (change == QLatin1String("colour"))
        _app->setColor(QColor(Qt::yellow));
    else if (change == QLatin1String("frame"))
        _app->setBorderPath(QString());
    else if (change == QLatin1String("flip"))
        _app->flipHorizontal();
    else if (change == QLatin1String("photo"))
        QVERIFY(_app->applicationOpenFile(
            writePhoto(path(QStringLiteral("two.png")), QSize(30, 20), Qt::red)));

    QCOMPARE(panel->filesizeField()->text(), QString());
    QVERIFY(!preview->exportRenderer().isValidCacheAtPath(written));
}

void TestAppController::qualityControlsFollowModel()
{
    OutputPanel* panel = _app->outputPanel();
    _app->outputSettings()->setJpegQuality(87);
    QCOMPARE(panel->qualityField()->text(), QStringLiteral("87"));
    QCOMPARE(panel->qualityStepper()->value(), 87);
    QCOMPARE(panel->qualityStepper()->increment(), 5);
    QCOMPARE(panel->qualityStepper()->minimum(), 1);
    QCOMPARE(panel->qualityStepper()->maximum(), 100);

    // Typed into the field.
    panel->qualityField()->setText(QStringLiteral("42"));
    emit panel->qualityField()->editingFinished();
    QCOMPARE(_app->outputSettings()->jpegQuality(), 42);
    QCOMPARE(panel->qualityStepper()->value(), 42);

    // The stepper's two notifications: the field shows the value, the field's own action
    // stores it.
    emit panel->qualityStepper()->stepped(45);
    emit panel->qualityStepper()->targetActionRequested();
    QCOMPARE(panel->qualityField()->text(), QStringLiteral("45"));
    QCOMPARE(_app->outputSettings()->jpegQuality(), 45);

    // The size limit's kilobytes go straight into the defaults.
    panel->filesizeLimitField()->setText(QStringLiteral("750"));
    emit panel->filesizeLimitField()->editingFinished();
    QCOMPARE(_defaults->integerForKey(DefFilesizeLimit), 750);
}

void TestAppController::colourAndPreferenceKeepReleasedPlace()
{
    QVERIFY(_app->applicationOpenFile(
        writePhoto(path(QStringLiteral("one.png")), QSize(60, 40), Qt::blue)));
    PreviewView* preview = _app->previewView();
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
    const QImage released = preview->image();
    _app->setColor(QColor(Qt::white));
    _app->preferenceDidChange();
    QCOMPARE(preview->translation(), QPointF(7, 4));
    QCOMPARE(preview->image(), released);
}

void TestAppController::handedOverFilesOpenInTurn()
{
    const QString first = writePhoto(path(QStringLiteral("first.png")), QSize(30, 20), Qt::red);
    const QString last = writePhoto(path(QStringLiteral("last.png")), QSize(50, 20), Qt::green);
    _app->openFiles({first, last});
    QCOMPARE(_app->filename(), QStringLiteral("last"));
    QCOMPARE(_app->mainWindow()->windowTitle(), QStringLiteral("Velluma (50 x 20 pixels)"));
}

void TestAppController::droppedFileOpensThroughController()
{
    const QString photo = writePhoto(path(QStringLiteral("dropped.png")), QSize(40, 30), Qt::red);
    _app->mainWindow()->show();
    QVERIFY(QTest::qWaitForWindowExposed(_app->mainWindow()));
    PreviewView* preview = _app->previewView();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(photo)});
    // As the desktop delivers it: the drop goes where the drag entered.
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(preview, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(preview, &drop);
    QCOMPARE(_app->filename(), QStringLiteral("dropped"));
    QCOMPARE(preview->mainImage().size(), QSize(40, 30));

    // A dropped file that is no image: the sheet, and the dropped photo stays.
    const QString notes = path(QStringLiteral("notes.txt"));
    QFile file(notes);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a photo");
    file.close();
    SheetAnswer answer;
    answerNextSheet(_app->mainWindow(), &answer);
    QMimeData textMime;
    textMime.setUrls({QUrl::fromLocalFile(notes)});
    QDragEnterEvent badEnter(QPoint(5, 5), Qt::CopyAction, &textMime, Qt::LeftButton,
                             Qt::NoModifier);
    QCoreApplication::sendEvent(preview, &badEnter);
    QDropEvent badDrop(QPointF(5, 5), Qt::CopyAction, &textMime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(preview, &badDrop);
    QCOMPARE(answer.title, QStringLiteral("Unable to Open 'notes.txt'"));
    QCOMPARE(_app->filename(), QStringLiteral("dropped"));
}

void TestAppController::commandsFollowPhoto()
{
    auto enabled = [this] {
        QMap<QString, bool> states;
        for (QAction* action : _app->toolBar()->actions()) {
            if (!action->toolTip().isEmpty() && !action->isSeparator())
                states.insert(action->toolTip(), action->isEnabled());
        }
        return states;
    };
    const QStringList needPhoto = {
        QStringLiteral("Save image"), QStringLiteral("Copy image to clipboard"),
        QStringLiteral("Clear image"), QStringLiteral("Flip Border Horizontally")};
    QMap<QString, bool> states = enabled();
    for (const QString& name : needPhoto)
        QVERIFY2(states.value(name, true) == false, qPrintable(name));
    QCOMPARE(states.value(QStringLiteral("Open image")), true);
    QCOMPARE(states.value(QStringLiteral("Preferences")), true);

    QVERIFY(_app->applicationOpenFile(
        writePhoto(path(QStringLiteral("one.png")), QSize(60, 40), Qt::blue)));
    states = enabled();
    for (const QString& name : needPhoto)
        QVERIFY2(states.value(name, false), qPrintable(name));
    _app->closeImage();
    QCOMPARE(enabled().value(QStringLiteral("Save image"), true), false);
}

void TestAppController::quittingRemovesTemporaryFiles()
{
    QVERIFY(_app->applicationOpenFile(
        writePhoto(path(QStringLiteral("one.png")), QSize(60, 40), Qt::blue)));
    const QString written = _app->previewView()->writeTmpFile();
    QVERIFY(QFile::exists(written));
    const QString folder = QFileInfo(written).absolutePath();
    QVERIFY(!folder.startsWith(_dir.path()));
    _app->applicationShouldTerminate();
    QVERIFY(!QFileInfo::exists(folder));
    // The window's place is kept for the next launch.
    QVERIFY(!_defaults->stringForKey(QStringLiteral("mainWindow")).isEmpty());
}

void TestAppController::updateCheckTakenOver()
{
    // The shipped defaults carry "CheckForUpdatesAtStartup", so only "SUCheckAtStartup"
    // is switched off.
    _app.reset();
    _defaults->setBool(true, DefSUCheckAtStartup);
    _app = std::make_unique<AppController>(*_defaults);
    QCOMPARE(_defaults->boolForKey(DefSUCheckAtStartup), false);
    QCOMPARE(_defaults->boolForKey(DefCheckForUpdatesAtStartup), false);
}

void TestAppController::launchCounter()
{
    QSignalSpy check(_app.get(), &AppController::checkForUpdatesInBackgroundRequested);
    _app->applicationDidFinishLaunching();
    _app->applicationDidFinishLaunching();
    QCOMPARE(_defaults->integerForKey(DefLaunchCount), 2);
    QCOMPARE(check.count(), 0);
    _defaults->setBool(true, DefCheckForUpdatesAtStartup);
    _app->applicationDidFinishLaunching();
    QCOMPARE(check.count(), 1);
}

void TestAppController::drawerCannotClose()
{
    QDockWidget* drawer = _app->drawer();
    QVERIFY(drawer);
    QVERIFY(!(drawer->features() & QDockWidget::DockWidgetClosable));
    QVERIFY(drawer->widget());
}

QTEST_MAIN(TestAppController)
#include "test_appcontroller.moc"
