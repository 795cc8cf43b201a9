#include "LocalHttpServer.h"
#include "frames/FrameDownloader.h"
#include "frames/ThumbnailController.h"
#include "frames/ThumbnailTableView.h"

#include "foundation/DefaultsKeys.h"
#include "foundation/PropertyList.h"
#include "foundation/Resources.h"
#include "foundation/UserDefaults.h"
#include "ui/ZTWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDockWidget>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

QImage solid(int w, int h, QColor color)
{
    // With an alpha channel: an alpha frame, shown in its own colours.
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

bool itemEnabled(QComboBox* pop, int i)
{
    return qobject_cast<QStandardItemModel*>(pop->model())->item(i)->isEnabled();
}

// For an alert its title and message; for a name sheet the name it showed.
struct SheetLog {
    QStringList titles;
    QStringList messages;
};

QList<QPointer<QTimer>>& pendingAnswers()
{
    static QList<QPointer<QTimer>> timers;
    return timers;
}

// Answers the next modal window once it is up: presses the button with that text or object
// name, after typing the name into a name sheet.
void answer(const QString& button, SheetLog* log = nullptr, const QString& name = QString())
{
    auto* timer = new QTimer;
    pendingAnswers().append(timer);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        const bool up = modal && modal->isVisible();
        if (up || ++*tries > 1000) {
            timer->stop();
            timer->deleteLater();
        }
        if (!up)
            return;
        if (auto* field = modal->findChild<QLineEdit*>(QStringLiteral("nameField"))) {
            if (log)
                log->titles.append(field->text());
            field->setText(name);
        } else if (auto* box = qobject_cast<QMessageBox*>(modal); box && log) {
            log->titles.append(box->windowTitle());
            log->messages.append(box->informativeText());
        }
        for (QAbstractButton* b : modal->findChildren<QAbstractButton*>())
            if (b->text() == button || b->objectName() == button)
                return b->click();
        QFAIL(qPrintable("no button " + button));
    });
    timer->start(5);
}

QMimeData* fileDrop(const QStringList& paths)
{
    auto* mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls.append(QUrl::fromLocalFile(p));
    mime->setUrls(urls);
    return mime;
}

class FrameServer : public LocalHttpServer {
public:
    QByteArray png;

    FrameServer()
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        solid(60, 40, Qt::red).save(&buffer, "PNG");
    }

protected:
    void respond(QTcpSocket* socket, const QByteArray& path) override
    {
        const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n";
        QByteArray head = ok + "Content-Length: " + QByteArray::number(png.size()), body = png;
        if (path.startsWith("/slow"))
            return;                  // never answers
        if (path.startsWith("/big")) // claims far more than the limit and keeps the line open
            return (void)socket->write(ok + "Content-Length: 50000000\r\n\r\n" + png);
        if (path.startsWith("/stream"))
            head = ok + "Connection: close", body += QByteArray(5000, 'x');
        else if (path.startsWith("/trunc"))
            body = png.left(png.size() / 2);
        else if (path.startsWith("/text"))
            head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5",
            body = "hello";
        else if (path.startsWith("/missing"))
            head = "HTTP/1.1 404 Not Found\r\nContent-Length: 3", body = "nop";
        socket->write(head + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
};

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

} // namespace

class TestThumbnailController : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void popUpLayout_data();
    void popUpLayout();
    void storedIndexRepair_data();
    void storedIndexRepair();
    void pickingFrame();
    void createRenameRemove_data();
    void createRenameRemove();
    void commandChangesNothing_data();
    void commandChangesNothing();
    void userFolderIsAFile();
    void deleteFrame_data();
    void deleteFrame();
    void dropFiles_data();
    void dropFiles();
    void download_data();
    void download();
    void windowGoesFirst();
    void keysSelectSetsOnly_data();
    void keysSelectSetsOnly();
    void rowsShowThumbnailAndName();

private:
    std::unique_ptr<ThumbnailController> makeController();
    QString userRoot() const;
    QString makeUserCollection(const QString& name, int frames);

    std::unique_ptr<QTemporaryDir> _dir;
    std::unique_ptr<UserDefaults> _defaults;
    std::unique_ptr<ZTWindow> _window;
};

void TestThumbnailController::init()
{
    _dir = std::make_unique<QTemporaryDir>();
    const QString borders = _dir->filePath("resources/borders");
    QVERIFY(QDir().mkpath(borders + "/Builtin A"));
    QVERIFY(QDir().mkpath(borders + "/Builtin B"));
    QVERIFY(solid(120, 80, Qt::white).save(borders + "/Builtin A/Wide.png"));
    QVERIFY(solid(80, 120, Qt::white).save(borders + "/Builtin A/Tall.png"));
    QVERIFY(solid(100, 100, Qt::white).save(borders + "/Builtin B/Square.png"));
    Resources::setPathOverride(_dir->filePath("resources"));
    QDir(userRoot()).removeRecursively();
    QFile::remove(userRoot());
    _defaults = std::make_unique<UserDefaults>(_dir->filePath("defaults.plist"));
    _window = std::make_unique<ZTWindow>();
    _window->show();
}

void TestThumbnailController::cleanup()
{
    // An answer whose sheet never came must not answer the next test's sheet.
    for (const QPointer<QTimer>& timer : std::as_const(pendingAnswers()))
        delete timer.data();
    pendingAnswers().clear();
    _window.reset();
    _defaults.reset();
    Resources::setPathOverride(QString());
    QDir(userRoot()).removeRecursively();
    QFile::remove(userRoot());
    _dir.reset();
}

QString TestThumbnailController::userRoot() const
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           "/Velluma User Frames";
}

QString TestThumbnailController::makeUserCollection(const QString& name, int frames)
{
    // As after a first start: the user folder always comes with "My Frames".
    QDir().mkpath(userRoot() + "/My Frames");
    const QString folder = userRoot() + "/" + name;
    QDir().mkpath(folder);
    for (int i = 0; i < frames; ++i)
        solid(90, 60, QColor(20 * i, 100, 100)).save(folder + QString("/Frame %1.png").arg(i));
    return folder;
}

std::unique_ptr<ThumbnailController> TestThumbnailController::makeController()
{
    auto controller = std::make_unique<ThumbnailController>(*_defaults, _window.get());
    controller->panel()->show();
    return controller;
}

void TestThumbnailController::popUpLayout_data()
{
    QTest::addColumn<QStringList>("userSets");
    QTest::newRow("first start") << QStringList{};
    QTest::newRow("three user sets") << QStringList{"Alpha", "Beta", "Gamma"};
}

void TestThumbnailController::popUpLayout()
{
    QFETCH(QStringList, userSets);
    for (const QString& name : userSets)
        makeUserCollection(name, 1);
    auto controller = makeController();
    QComboBox* pop = controller->collectionPopUp();
    QStringList users = userSets;
    users.append("My Frames");
    users.sort(Qt::CaseInsensitive);
    const int b = 2, u = int(users.size()), c = b + u + 2; // c: "Create Frame Set"
    QCOMPARE(controller->userCount(), u);
    QStringList texts{"Builtin A", "Builtin B", ""};
    texts << users << ""
          << "Create Frame Set"
          << "Remove Frame Set"
          << "Rename Frame Set";
    QStringList shown;
    for (int i = 0; i < pop->count(); ++i)
        shown.append(pop->itemText(i));
    QCOMPARE(shown, texts);
    for (int tag : {101, 102, 103})
        QCOMPARE(pop->itemData(c + tag - 101).toInt(), tag);

    // Every selectable collection, built-in and user, in turn.
    for (int index = 0; index < c - 1; ++index) {
        if (index == b)
            continue;
        controller->selectCollection(index);
        QCOMPARE(pop->currentIndex(), index);
        const bool user = index > b;
        QVERIFY(!itemEnabled(pop, b) && !itemEnabled(pop, c - 1) && itemEnabled(pop, c));
        QCOMPARE(itemEnabled(pop, c + 1), user);
        QCOMPARE(itemEnabled(pop, c + 2), user);
        QCOMPARE(controller->currentCollectionName(), user ? users[index - b - 1] : QString());
    }
    QCOMPARE(controller->tableView()->columnCount(), 1);
}

void TestThumbnailController::storedIndexRepair_data()
{
    // Two built-in sets and two user sets (Extra, My Frames): items 0 1 | 3 4 | commands.
    QTest::addColumn<bool>("builtins");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("expected");
    QTest::newRow("equal to the built-in count") << true << 2 << 0;
    QTest::newRow("past the last user set") << true << 5 << 0;
    QTest::newRow("a command") << true << 7 << 0;
    QTest::newRow("negative") << true << -3 << 0;
    QTest::newRow("last user set") << true << 4 << 4;
    // Without built-in sets item 0 is the separator: the first user set is taken.
    QTest::newRow("no built-in sets") << false << 0 << 1;
}

void TestThumbnailController::storedIndexRepair()
{
    QFETCH(bool, builtins);
    QFETCH(int, stored);
    QFETCH(int, expected);
    if (!builtins)
        QVERIFY(QDir(_dir->filePath("resources/borders")).removeRecursively());
    makeUserCollection("Extra", 1);
    _defaults->setInteger(stored, DefSelectedCollection);
    auto controller = makeController();
    QCOMPARE(controller->builtinCount(), builtins ? 2 : 0);
    QCOMPARE(controller->selectedCollection(), expected);
    QCOMPARE(controller->collectionPopUp()->currentIndex(), expected);
    QCOMPARE(_defaults->integerForKey(DefSelectedCollection), expected);
}

void TestThumbnailController::pickingFrame()
{
    const QString folder = makeUserCollection("Mine", 3);
    auto controller = makeController();
    QSignalSpy chosen(controller.get(), &ThumbnailController::frameChosen);
    controller->selectCollection(3); // "Mine" sorts before "My Frames"
    QCOMPARE(controller->currentCollectionPath(), folder);
    QCOMPARE(_defaults->integerForKey(DefSelectedCollection), 3);
    QCOMPARE(controller->tableView()->rowCount(), 3);
    controller->tableView()->selectRow(1);
    controller->deselectAll();
    QCOMPARE(chosen.count(), 3);
    QCOMPARE(chosen.at(0).at(0).toString(), QString());
    QCOMPARE(chosen.at(1).at(0).toString(), folder + "/Frame 1.png");
    QCOMPARE(chosen.at(2).at(0).toString(), QString());
    QCOMPARE(controller->tableView()->selectedRow(), -1);
    controller->tableView()->selectRow(2);
    QCOMPARE(controller->selectedFramePath(), folder + "/Frame 2.png");

    QVERIFY(solid(120, 80, Qt::red).save(folder + "/Later.png"));
    controller->refreshAction()->trigger();
    QCOMPARE(controller->tableView()->rowCount(), 4);
    QCOMPARE(controller->selectedCollection(), 3);
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    controller->revealUserFolderAction()->trigger();
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(userRoot())});
}

void TestThumbnailController::createRenameRemove_data()
{
    // Where the user root has an order file, the commands keep it in step.
    QTest::addColumn<bool>("orderFile");
    QTest::addColumn<QStringList>("nextStart");
    QTest::newRow("folder listing") << false << QStringList{"attic", "My Frames"};
    QTest::newRow("order file") << true << QStringList{"My Frames", "attic"};
}

void TestThumbnailController::createRenameRemove()
{
    QFETCH(bool, orderFile);
    QFETCH(QStringList, nextStart);
    makeUserCollection("Old", 2);
    if (orderFile)
        QVERIFY(PropertyList::toFile(QVariantList{QString("My Frames"), QString("Old")},
                                     userRoot() + "/collections.plist"));
    // The next start lists the sets afresh and selects the stored index: the same set.
    const auto nextStartShows = [this] { return makeController()->currentCollectionName(); };
    {
        auto controller = makeController();
        QComboBox* pop = controller->collectionPopUp();
        controller->selectCollection(1);
        answer("confirmButton", nullptr, "  Holidays ");
        controller->selectCollection(pop->findData(101));
        QVERIFY(QFileInfo(userRoot() + "/Holidays").isDir());
        QCOMPARE(controller->currentCollectionName(), QString("Holidays"));
        QCOMPARE(pop->itemText(pop->currentIndex()), QString("Holidays"));
        QCOMPARE(_defaults->integerForKey(DefSelectedCollection), pop->currentIndex());
        QCOMPARE(nextStartShows(), QString("Holidays"));
        QVERIFY(itemEnabled(pop, pop->findData(102)));

        controller->selectCollection(pop->findText("Old"));
        SheetLog log;
        answer("confirmButton", &log, "attic");
        controller->selectCollection(pop->findData(103));
        QCOMPARE(log.titles, QStringList{"Old"});
        QVERIFY(QFileInfo::exists(userRoot() + "/attic/tncache/Frame 0_png.jpg"));
        QCOMPARE(controller->currentCollectionName(), QString("attic"));
        QCOMPARE(pop->itemText(pop->currentIndex()), QString("attic"));
        QCOMPARE(nextStartShows(), QString("attic"));
        QCOMPARE(controller->selectedThumbnails()[1].path, userRoot() + "/attic/Frame 1.png");

        controller->selectCollection(pop->findText("Holidays"));
        answer("Remove", &log);
        controller->selectCollection(pop->findData(102));
        QCOMPARE(log.titles.last(), QString("Remove Collection?"));
        QCOMPARE(log.messages, QStringList{"Are you sure you want to remove 'Holidays'"});
        QCOMPARE(pop->findText("Holidays"), -1);
        QCOMPARE(pop->currentIndex(), 0);
        QCOMPARE(controller->selectedCollection(), 0);
        QVERIFY(!itemEnabled(pop, pop->findData(102)));
    }
    QStringList left = nextStart;
    if (orderFile)
        left.append("collections.plist");
    left.sort(Qt::CaseInsensitive);
    QCOMPARE(entries(userRoot()), left); // nothing left behind in hiding
    auto controller = makeController();
    QCOMPARE(controller->collectionPopUp()->itemText(3), nextStart[0]);
    QCOMPARE(controller->collectionPopUp()->itemText(4), nextStart[1]);
}

void TestThumbnailController::commandChangesNothing_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("message"); // empty: cancelled, no alert
    auto row = [](const char* tag, int command, const QString& name, const QString& button,
                  const QString& message) {
        QTest::newRow(tag) << command << name << button << message;
    };
    const QString typeName = "Please type a name for the frame set.";
    const QString separator = "A frame set name cannot contain \"/\" or \"\\\".";
    const QString dot = "A frame set name cannot begin with \".\".";
    const QString exists = "A frame set named 'My Frames' already exists.";
    row("create cancelled", 101, "Other", "cancelButton", "");
    row("remove cancelled", 102, "", "Don't Remove", "");
    row("rename cancelled", 103, "Other", "cancelButton", "");
    row("create blank", 101, "   ", "confirmButton", typeName);
    row("create outside", 101, "../escape", "confirmButton", separator);
    row("create existing", 101, "My Frames", "confirmButton", exists);
    row("rename existing", 103, "My Frames", "confirmButton", exists);
    row("rename parent", 103, "..", "confirmButton", dot);
}

void TestThumbnailController::commandChangesNothing()
{
    QFETCH(int, tag);
    QFETCH(QString, name);
    QFETCH(QString, button);
    QFETCH(QString, message);
    makeUserCollection("Old", 1);
    auto controller = makeController(); // users: My Frames (3), Old (4)
    QComboBox* pop = controller->collectionPopUp();
    controller->selectCollection(4);
    const QStringList before = entries(userRoot()), parentBefore = entries(userRoot() + "/..");
    QSignalSpy chosen(controller.get(), &ThumbnailController::frameChosen);
    SheetLog log;
    answer(button, nullptr, name);
    if (!message.isEmpty()) // the alert that refuses the name follows the sheet
        QTimer::singleShot(0, [&log] { answer("Okay", &log); });
    pop->setCurrentIndex(pop->findData(tag));
    controller->selectCollection(pop->findData(tag));
    const QString title = tag == 101 ? "Frame Set Not Created" : "Frame Set Not Renamed";
    QCOMPARE(log.titles, message.isEmpty() ? QStringList() : QStringList{title});
    QCOMPARE(log.messages, message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(entries(userRoot()), before);
    QCOMPARE(entries(userRoot() + "/.."), parentBefore);
    QCOMPARE(entries(userRoot() + "/Old"), (QStringList{"Frame 0.png", "tncache"}));
    QCOMPARE(pop->itemText(4), QString("Old"));
    QCOMPARE(pop->currentIndex(), 4);
    QCOMPARE(_defaults->integerForKey(DefSelectedCollection), 4);
    QCOMPARE(chosen.count(), 0); // the frame on the photo stays
}

void TestThumbnailController::userFolderIsAFile()
{
    writeBytes(userRoot(), "a file where the folder should be");
    auto controller = makeController();
    QCOMPARE(controller->userCount(), 0);
    QCOMPARE(controller->collectionPopUp()->count(), 2 + 5);
    SheetLog log;
    answer("Okay", &log);
    controller->selectCollection(4); // Create Frame Set
    QCOMPARE(log.titles, QStringList{"Frame Set Not Created"});
    QCOMPARE(controller->selectedCollection(), 0);
    QVERIFY(QFileInfo(userRoot()).isFile());
}

void TestThumbnailController::deleteFrame_data()
{
    // "Mine" (3) holds Frame 0 and Frame 1; "Builtin A" (0) holds Tall and Wide.
    QTest::addColumn<int>("collection");
    QTest::addColumn<int>("row"); // -1: none selected
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("title"); // empty: no alert
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("deleted");
    auto row = [](const char* tag, int collection, int selectedRow, const QString& button,
                  const QString& title, const QString& message, bool deleted) {
        QTest::newRow(tag) << collection << selectedRow << button << title << message << deleted;
    };
    const QString undone = "Deleting a frame cannot be undone.";
    row("built-in", 0, 0, "Okay", "Frame Not Deleted", "Built-in frame sets cannot be modified.",
        false);
    row("delete", 3, 1, "Delete", "Confirm Delete", undone, true);
    row("don't delete", 3, 1, "Don't Delete", "Confirm Delete", undone, false);
    row("nothing selected", 3, -1, "Delete", "", "", false);
}

void TestThumbnailController::deleteFrame()
{
    QFETCH(int, collection);
    QFETCH(int, row);
    QFETCH(QString, button);
    QFETCH(QString, title);
    QFETCH(QString, message);
    QFETCH(bool, deleted);
    makeUserCollection("Mine", 2);
    auto controller = makeController();
    ThumbnailTableView* table = controller->tableView();
    controller->selectCollection(collection);
    if (row >= 0)
        table->selectRow(row);
    const QString path = controller->selectedFramePath();
    SheetLog log;
    answer(button, &log);
    // The key goes down and comes up on the table: the release is the command.
    QTest::keyPress(table, Qt::Key_Backspace);
    QVERIFY(log.titles.isEmpty());
    QTest::keyRelease(table, Qt::Key_Backspace);
    QCOMPARE(log.titles, title.isEmpty() ? QStringList() : QStringList{title});
    QCOMPARE(log.messages, message.isEmpty() ? QStringList() : QStringList{message});
    QVERIFY(path.isEmpty() || QFileInfo::exists(path) != deleted);
    QCOMPARE(table->rowCount(), deleted ? 1 : 2);
    QCOMPARE(controller->selectedThumbnails().size(), deleted ? 1 : 2);
}

void TestThumbnailController::dropFiles_data()
{
    QTest::addColumn<QStringList>("files"); // empty: a text drag
    QTest::addColumn<int>("collection");    // 1: "Builtin B", 3: "My Frames"
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QStringList>("copied");
    QTest::addColumn<bool>("existing"); // "My Frames" already has a red "Real Frame.png"
    const QStringList image{"Real Frame.png"};
    QTest::newRow("three files, one image")
        << QStringList{"notes.txt", "fake.png", "Real Frame.png"} << 3 << true << image << false;
    QTest::newRow("existing name kept") << image << 3 << true << image << true;
    const QStringList withLayout{"Real Frame.png", "Real Frame_frame.plist"};
    QTest::newRow("layout comes along") << withLayout << 3 << true << withLayout << false;
    QTest::newRow("text files only")
        << QStringList{"notes.txt", "b.txt"} << 3 << true << QStringList() << false;
    // Taken only to say why it is refused.
    QTest::newRow("built-in refused") << image << 1 << true << QStringList() << false;
    QTest::newRow("text drag") << QStringList() << 3 << false << QStringList() << false;
}

void TestThumbnailController::dropFiles()
{
    QFETCH(QStringList, files);
    QFETCH(int, collection);
    QFETCH(bool, valid);
    QFETCH(QStringList, copied);
    QFETCH(bool, existing);
    auto controller = makeController();
    controller->selectCollection(collection);
    const QString kept = userRoot() + "/My Frames/Real Frame.png";
    if (existing) {
        QVERIFY(solid(120, 80, Qt::red).save(kept));
        // A stale cache file: the drop must make the thumbnail afresh from the kept file.
        QVERIFY(QDir().mkpath(userRoot() + "/My Frames/tncache"));
        QVERIFY(solid(72, 48, Qt::green)
                    .save(userRoot() + "/My Frames/tncache/Real Frame_png.jpg", "JPEG"));
    }
    QTemporaryDir outside;
    writeBytes(outside.filePath("notes.txt"), "text");
    writeBytes(outside.filePath("b.txt"), "more text");
    writeBytes(outside.filePath("fake.png"), "not really a png");
    writeBytes(outside.filePath("Real Frame_frame.plist"), "<plist><dict/></plist>");
    QVERIFY(solid(300, 200, Qt::blue).save(outside.filePath("Real Frame.png")));
    QStringList paths;
    for (const QString& file : files)
        paths.append(outside.filePath(file));
    std::unique_ptr<QMimeData> mime(files.isEmpty() ? new QMimeData : fileDrop(paths));
    if (files.isEmpty())
        mime->setText("just words");
    QVERIFY(!controller->validateDrop(mime.get(), true)); // a drag from inside the program

    // Through the table, as a drag from another application arrives.
    QWidget* viewport = controller->tableView()->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QCOMPARE(enter.isAccepted(), valid);
    SheetLog log;
    if (collection == 1)
        answer("Okay", &log);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    QCOMPARE(drop.isAccepted(), !copied.isEmpty());
    if (collection == 1)
        QTRY_COMPARE(log.messages, QStringList{controller->dropRefusal(mime.get())});
    QVERIFY(collection == 1 || controller->dropRefusal(mime.get()).isEmpty());
    QCOMPARE(QDir(userRoot() + "/My Frames").entryList(QDir::Files), copied);
    QCOMPARE(QDir(_dir->filePath("resources/borders/Builtin B")).entryList(QDir::Files),
             QStringList{"Square.png"});
    const QStringList frames = copied.filter(QRegularExpression("\\.png$"));
    QCOMPARE(controller->tableView()->rowCount(), collection == 1 ? 1 : int(frames.size()));
    if (copied.isEmpty())
        return;
    QCOMPARE(QImage(kept).pixel(10, 10), existing ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    const QImage thumb = controller->selectedThumbnails()[0].image;
    QCOMPARE(thumb.size(), QSize(72, 48));
    const QRgb centre = thumb.pixel(36, 24);
    QVERIFY(qGreen(centre) < 60 && (existing ? qRed(centre) > 200 : qBlue(centre) > 200));
}

void TestThumbnailController::download_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("existing"); // a frame already in the collection
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<QString>("savedName"); // empty: nothing saved
    auto row = [](const char* tag, const QString& path, const QString& saved,
                  const QString& existing = QString(), int timeoutMs = 10000) {
        QTest::newRow(tag) << path << existing << timeoutMs << saved;
    };
    row("frame", "/frames/Gold.png", "Gold.png");
    row("no extension gets one", "/frames/gold", "gold.png");
    row("parent reference", "/a/%2E%2E", "Downloaded Frame.png");
    row("never overwrites", "/Gold.png", "Gold-1.png", "Gold.png");
    row("too big", "/big.png", "");
    row("too big, no length", "/stream.png", "");
    row("cut short", "/trunc.png", "");
    row("not an image", "/text.png", "");
    row("not found", "/missing.png", "");
    row("times out", "/slow.png", "", "", 300);
}

void TestThumbnailController::download()
{
    QFETCH(QString, path);
    QFETCH(QString, existing);
    QFETCH(int, timeoutMs);
    QFETCH(QString, savedName);
    FrameServer server;
    auto controller = makeController();
    controller->downloader()->setLimits(server.png.size() + 1000, timeoutMs);
    controller->selectCollection(3);
    const QString folder = userRoot() + "/My Frames";
    QStringList expected{existing, savedName};
    expected.removeAll(QString());
    expected.sort(Qt::CaseInsensitive);
    if (!existing.isEmpty())
        QVERIFY(solid(10, 10, Qt::green).save(folder + "/" + existing));
    QMimeData mime;
    mime.setUrls({server.url(path)});
    QVERIFY(controller->validateDrop(&mime, false));
    QSignalSpy finished(controller->downloader(), &FrameDownloader::downloadFinished);
    QVERIFY(controller->acceptDrop(&mime));
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.at(0).at(0).toString(), folder);
    QCOMPARE(finished.at(0).at(1).toString(), savedName.isEmpty() ? "" : folder + "/" + savedName);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), expected);
    QCOMPARE(controller->tableView()->rowCount(), int(expected.size()));
    QCOMPARE(controller->downloader()->activeDownloads(), 0);
    if (!existing.isEmpty())
        QCOMPARE(QImage(folder + "/" + existing).size(), QSize(10, 10));
    QCOMPARE(entries(userRoot()), QStringList{"My Frames"}); // nothing written outside
    // Only http(s) is fetched.
    QCOMPARE(controller->copyURL(QUrl("ftp://example.org/x.png"), 3), 0);
    QCOMPARE(controller->copyURL(QUrl("file:///etc/passwd"), 3), 0);
}

void TestThumbnailController::windowGoesFirst()
{
    auto controller = makeController();
    auto* dock = new QDockWidget(_window.get());
    dock->setWidget(controller->panel());
    _window->addDockWidget(Qt::LeftDockWidgetArea, dock);
    _window.reset();
    QVERIFY(!controller->panel());
    controller.reset();
    _window = std::make_unique<ZTWindow>();
}

void TestThumbnailController::keysSelectSetsOnly_data()
{
    // Items: 0 Builtin A, 1 Builtin B, 3 My Frames, 5 Create, 6 Remove, 7 Rename.
    QTest::addColumn<QString>("target"); // the pop-up, its open list (on Create), the wheel
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("runs"); // the command's sheet comes up
    auto row = [](const char* tag, const QString& target, int start, const QList<int>& keys,
                  int expected,
                  bool runs) { QTest::newRow(tag) << target << start << keys << expected << runs; };
    row("wheel", "wheel", 3, {}, 3, false);
    row("down past the last set", "pop-up", 3, {Qt::Key_Down}, 3, false);
    row("end, page down", "pop-up", 3, {Qt::Key_End, Qt::Key_PageDown}, 3, false);
    row("a command's initial", "pop-up", 3, {Qt::Key_R}, 3, false);
    row("up over the separator", "pop-up", 3, {Qt::Key_Up}, 1, false);
    row("down over the separator", "pop-up", 1, {Qt::Key_Down}, 3, false);
    row("return in the open list", "list", 3, {Qt::Key_Return}, 3, true);
}

void TestThumbnailController::keysSelectSetsOnly()
{
    QFETCH(QString, target);
    QFETCH(int, start);
    QFETCH(QList<int>, keys);
    QFETCH(int, expected);
    QFETCH(bool, runs);
    auto controller = makeController();
    controller->selectCollection(start);
    QComboBox* pop = controller->collectionPopUp();
    pop->setFocus();
    QSignalSpy chosen(controller.get(), &ThumbnailController::frameChosen);
    SheetLog log;
    answer("cancelButton", &log); // were a command to run, its sheet would show
    QWidget* receiver = pop;
    if (target == "list") {
        pop->showPopup();
        pop->view()->setCurrentIndex(pop->model()->index(pop->findData(101), 0));
        receiver = pop->view();
    }
    for (int key : keys)
        QTest::keyClick(receiver, Qt::Key(key));
    for (int i = 0; i < 10 && target == "wheel"; ++i) {
        QWheelEvent wheel(QPointF(5, 5), pop->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(pop, &wheel);
    }
    QCOMPARE(log.titles.size(), runs ? 1 : 0);
    QCOMPARE(pop->currentIndex(), expected);
    QCOMPARE(controller->selectedCollection(), expected);
    QCOMPARE(_defaults->integerForKey(DefSelectedCollection), expected);
    // A new set clears the chosen frame; staying, or a command cancelled, leaves it.
    QCOMPARE(chosen.count(), expected == start ? 0 : 1);
}

void TestThumbnailController::rowsShowThumbnailAndName()
{
    auto controller = makeController(); // Builtin A: Tall (32x48 white), Wide (72x48 white)
    ThumbnailTableView* table = controller->tableView();
    table->resize(240, 300);
    QApplication::processEvents();
    QCOMPARE(table->item(0, 0)->text(), QString("Tall"));
    QCOMPARE(table->item(1, 0)->text(), QString("Wide"));
    const QImage shot = table->viewport()->grab().toImage();
    const QRect r0 = table->visualRect(table->model()->index(0, 0));
    const QRect r1 = table->visualRect(table->model()->index(1, 0));
    const int y0 = r0.center().y(), y1 = r1.center().y();
    // Thumbnails at their own size centred in a 96-pixel box from x = 4 (its middle at 52):
    // the grey ground beside the narrow one, the names lined up after the box.
    const QColor white(Qt::white), ground(92, 92, 92);
    QCOMPARE(QColor(shot.pixel(r0.left() + 52, y0)), white);
    QCOMPARE(QColor(shot.pixel(r0.left() + 30, y0)), ground);
    QCOMPARE(QColor(shot.pixel(r1.left() + 30, y1)), white);
    QCOMPARE(QColor(shot.pixel(r1.left() + 12, y1)), ground);
    int inked = 0;
    for (int x = r0.left() + 100; x < r0.right(); ++x)
        for (int y = r0.top(); y < r0.bottom(); ++y)
            inked += QColor(shot.pixel(x, y)) != ground;
    QVERIFY(inked > 10);

    // An empty set of the user's says what to do with it.
    QCOMPARE(table->placeholderText(), QString());
    controller->selectCollection(3); // "My Frames", empty
    QCOMPARE(table->rowCount(), 0);
    QCOMPARE(table->placeholderText(), QString("Drop image files here"));
}

QTEST_MAIN(TestThumbnailController)
#include "test_thumbnail_controller.moc"
