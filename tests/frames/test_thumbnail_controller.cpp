#include "LocalHttpServer.h"
#include "TestSupport.h"
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
#include <QDockWidget>
#include <QMimeData>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

bool itemEnabled(QComboBox* pop, int i)
{
    return qobject_cast<QStandardItemModel*>(pop->model())->item(i)->isEnabled();
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
        else if (path.startsWith("/missing"))
            head = "HTTP/1.1 404 Not Found\r\nContent-Length: 3", body = "nop";
        socket->write(head + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
};

} // namespace

class TestThumbnailController : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> _dir;
    std::unique_ptr<UserDefaults> _defaults;
    std::unique_ptr<ZTWindow> _window;
    QString _root; // the user's frame folder

    QString makeUserCollection(const QString& name, int frames)
    {
        // As after a first start: the user folder always comes with "My Frames".
        QDir().mkpath(_root + "/My Frames");
        const QString folder = _root + "/" + name;
        QDir().mkpath(folder);
        for (int i = 0; i < frames; ++i)
            solid(90, 60, QColor(20 * i, 100, 100)).save(folder + QString("/Frame %1.png").arg(i));
        return folder;
    }

    std::unique_ptr<ThumbnailController> makeController()
    {
        auto controller = std::make_unique<ThumbnailController>(*_defaults, _window.get());
        controller->panel()->show();
        return controller;
    }

private slots:
    void init()
    {
        _dir = std::make_unique<QTemporaryDir>();
        const QString borders = _dir->filePath("resources/borders");
        QVERIFY(QDir().mkpath(borders + "/Builtin A") && QDir().mkpath(borders + "/Builtin B"));
        QVERIFY(solid(120, 80, Qt::white).save(borders + "/Builtin A/Wide.png"));
        QVERIFY(solid(80, 120, Qt::white).save(borders + "/Builtin A/Tall.png"));
        QVERIFY(solid(100, 100, Qt::white).save(borders + "/Builtin B/Square.png"));
        Resources::setPathOverride(_dir->filePath("resources"));
        _root = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                "/Velluma User Frames";
        QDir(_root).removeRecursively();
        QFile::remove(_root);
        _defaults = std::make_unique<UserDefaults>(_dir->filePath("defaults.plist"));
        _window = std::make_unique<ZTWindow>();
        _window->show();
    }

    void cleanup()
    {
        _window.reset();
        _defaults.reset();
        Resources::setPathOverride(QString());
        QDir(_root).removeRecursively();
        QFile::remove(_root);
        _dir.reset();
    }

    void popUpLayout_data()
    {
        QTest::addColumn<QStringList>("userSets");
        QTest::addColumn<bool>("userFolderIsAFile");
        QTest::newRow("first start") << QStringList{} << false;
        QTest::newRow("three user sets") << QStringList{"Alpha", "Beta", "Gamma"} << false;
        QTest::newRow("user folder is a file") << QStringList{} << true;
    }

    void popUpLayout()
    {
        QFETCH(QStringList, userSets);
        QFETCH(bool, userFolderIsAFile);
        if (userFolderIsAFile)
            QVERIFY(writeBytes(_root, "a file where the folder should be"));
        for (const QString& name : userSets)
            makeUserCollection(name, 1);
        auto controller = makeController();
        QComboBox* pop = controller->collectionPopUp();
        QStringList users = userSets;
        if (!userFolderIsAFile)
            users.append("My Frames");
        users.sort(Qt::CaseInsensitive);
        const int b = 2, u = int(users.size()), c = b + u + 2; // c: the first command
        QCOMPARE(controller->userCount(), u);
        QStringList shown;
        for (int i = 0; i < c; ++i)
            shown.append(pop->itemText(i));
        QCOMPARE(shown, QStringList({"Builtin A", "Builtin B", ""}) + users + QStringList{""});
        for (int tag : {101, 102, 103})
            QCOMPARE(pop->findData(tag), c + tag - 101);

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
        if (!userFolderIsAFile)
            return;
        SheetCatcher alert("Okay");
        controller->selectCollection(c); // creating a set where a file is in the way
        QCOMPARE(alert.seen.size(), 1);
        QCOMPARE(controller->selectedCollection(), 1);
        QVERIFY(QFileInfo(_root).isFile());
    }

    void storedIndexRepair_data()
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

    void storedIndexRepair()
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

    void pickingFrame()
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
        QCOMPARE(chosen.at(1).at(0).toString(), folder + "/Frame 1.png");
        QVERIFY(chosen.at(0).at(0).toString().isEmpty() && chosen.at(2).at(0).toString().isEmpty());
        QCOMPARE(controller->tableView()->selectedRow(), -1);
        controller->tableView()->selectRow(2);
        QCOMPARE(controller->selectedFramePath(), folder + "/Frame 2.png");

        QVERIFY(solid(120, 80, Qt::red).save(folder + "/Later.png"));
        controller->refreshAction()->trigger();
        QCOMPARE(controller->tableView()->rowCount(), 4);
        QCOMPARE(controller->selectedCollection(), 3);
    }

    void createRenameRemove_data()
    {
        // Where the user root has an order file, the commands keep it in step.
        QTest::addColumn<bool>("orderFile");
        QTest::addColumn<QStringList>("nextStart");
        QTest::newRow("folder listing") << false << QStringList{"attic", "My Frames"};
        QTest::newRow("order file") << true << QStringList{"My Frames", "attic"};
    }

    void createRenameRemove()
    {
        QFETCH(bool, orderFile);
        QFETCH(QStringList, nextStart);
        makeUserCollection("Old", 2);
        if (orderFile)
            QVERIFY(PropertyList::toFile(QVariantList{QString("My Frames"), QString("Old")},
                                         _root + "/collections.plist"));
        // The next start lists the sets afresh and selects the stored index: the same set.
        const auto nextStartShows = [this] { return makeController()->currentCollectionName(); };
        {
            auto controller = makeController();
            QComboBox* pop = controller->collectionPopUp();
            controller->selectCollection(1);
            std::optional<SheetCatcher> sheet(std::in_place, "confirmButton", nullptr,
                                              "  Holidays ");
            controller->selectCollection(pop->findData(101));
            QVERIFY(QFileInfo(_root + "/Holidays").isDir());
            QCOMPARE(pop->itemText(pop->currentIndex()), QString("Holidays"));
            QCOMPARE(_defaults->integerForKey(DefSelectedCollection), pop->currentIndex());
            QCOMPARE(nextStartShows(), QString("Holidays"));
            QVERIFY(itemEnabled(pop, pop->findData(102)));

            controller->selectCollection(pop->findText("Old"));
            sheet.emplace("confirmButton", nullptr, "attic");
            controller->selectCollection(pop->findData(103));
            QCOMPARE(sheet->last().field, QString("Old"));
            QVERIFY(QFileInfo::exists(_root + "/attic/tncache/Frame 0_png.jpg"));
            QCOMPARE(controller->currentCollectionName(), QString("attic"));
            QCOMPARE(pop->itemText(pop->currentIndex()), QString("attic"));
            QCOMPARE(nextStartShows(), QString("attic"));
            QCOMPARE(controller->selectedThumbnails()[1].path, _root + "/attic/Frame 1.png");

            controller->selectCollection(pop->findText("Holidays"));
            sheet.emplace("Remove");
            controller->selectCollection(pop->findData(102));
            QVERIFY(sheet->last().informative.contains("'Holidays'"));
            QCOMPARE(pop->findText("Holidays"), -1);
            QCOMPARE(pop->currentIndex(), 0);
            QCOMPARE(controller->selectedCollection(), 0);
            QVERIFY(!itemEnabled(pop, pop->findData(102)));
        }
        QStringList left = nextStart;
        if (orderFile)
            left.append("collections.plist");
        left.sort();
        QCOMPARE(entries(_root), left); // nothing left behind in hiding
        auto controller = makeController();
        QCOMPARE(controller->collectionPopUp()->itemText(3), nextStart[0]);
        QCOMPARE(controller->collectionPopUp()->itemText(4), nextStart[1]);
    }

    void commandChangesNothing_data()
    {
        QTest::addColumn<int>("tag");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("refused"); // an alert says why
        auto row = [](const char* tag, int command, const char* name, const char* button,
                      bool refused) { QTest::newRow(tag) << command << name << button << refused; };
        row("create cancelled", 101, "Other", "cancelButton", false);
        row("remove cancelled", 102, "", "Don't Remove", false);
        row("rename cancelled", 103, "Other", "cancelButton", false);
        row("create blank", 101, "   ", "confirmButton", true);
        row("create outside", 101, "../escape", "confirmButton", true);
        row("create existing", 101, "My Frames", "confirmButton", true);
        row("rename existing", 103, "My Frames", "confirmButton", true);
        row("rename parent", 103, "..", "confirmButton", true);
    }

    void commandChangesNothing()
    {
        QFETCH(int, tag);
        QFETCH(QString, name);
        QFETCH(QString, button);
        QFETCH(bool, refused);
        makeUserCollection("Old", 1);
        auto controller = makeController(); // users: My Frames (3), Old (4)
        QComboBox* pop = controller->collectionPopUp();
        controller->selectCollection(4);
        const QStringList before = entries(_root), parentBefore = entries(_root + "/..");
        QSignalSpy chosen(controller.get(), &ThumbnailController::frameChosen);
        SheetCatcher sheets(button, nullptr, name); // the alert that refuses the name: its default
        pop->setCurrentIndex(pop->findData(tag));
        controller->selectCollection(pop->findData(tag));
        QCOMPARE(sheets.seen.size(), refused ? 2 : 1);
        QCOMPARE(entries(_root), before);
        QCOMPARE(entries(_root + "/.."), parentBefore);
        QCOMPARE(entries(_root + "/Old"), (QStringList{"Frame 0.png", "tncache"}));
        QCOMPARE(pop->itemText(4), QString("Old"));
        QCOMPARE(pop->currentIndex(), 4);
        QCOMPARE(_defaults->integerForKey(DefSelectedCollection), 4);
        QCOMPARE(chosen.count(), 0); // the frame on the photo stays
    }

    void deleteFrame_data()
    {
        // "Mine" (3) holds Frame 0 and Frame 1; "Builtin A" (0) holds Tall and Wide.
        QTest::addColumn<int>("collection");
        QTest::addColumn<int>("row"); // -1: none selected
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("asks");
        QTest::addColumn<bool>("deleted");
        QTest::newRow("built-in") << 0 << 0 << "Okay" << true << false;
        QTest::newRow("delete") << 3 << 1 << "Delete" << true << true;
        QTest::newRow("don't delete") << 3 << 1 << "Don't Delete" << true << false;
        QTest::newRow("nothing selected") << 3 << -1 << "Delete" << false << false;
    }

    void deleteFrame()
    {
        QFETCH(int, collection);
        QFETCH(int, row);
        QFETCH(QString, button);
        QFETCH(bool, asks);
        QFETCH(bool, deleted);
        makeUserCollection("Mine", 2);
        auto controller = makeController();
        ThumbnailTableView* table = controller->tableView();
        controller->selectCollection(collection);
        if (row >= 0)
            table->selectRow(row);
        const QString path = controller->selectedFramePath();
        SheetCatcher alerts(button);
        // The key goes down and comes up on the table: the release is the command.
        QTest::keyPress(table, Qt::Key_Backspace);
        QVERIFY(!alerts.shown());
        QTest::keyRelease(table, Qt::Key_Backspace);
        QCOMPARE(alerts.seen.size(), asks ? 1 : 0);
        QVERIFY(path.isEmpty() || QFileInfo::exists(path) != deleted);
        QCOMPARE(table->rowCount(), deleted ? 1 : 2);
        QCOMPARE(controller->selectedThumbnails().size(), deleted ? 1 : 2);
    }

    void dropFiles_data()
    {
        QTest::addColumn<QStringList>("files"); // empty: a text drag
        QTest::addColumn<int>("collection");    // 1: "Builtin B", 3: "My Frames"
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QStringList>("copied");
        QTest::addColumn<bool>("existing"); // "My Frames" already has a red "Real Frame.png"
        const QStringList image{"Real Frame.png"};
        QTest::newRow("three files, one image")
            << QStringList{"notes.txt", "fake.png", "Real Frame.png"} << 3 << true << image
            << false;
        QTest::newRow("existing name kept") << image << 3 << true << image << true;
        const QStringList withLayout{"Real Frame.png", "Real Frame_frame.plist"};
        QTest::newRow("layout comes along") << withLayout << 3 << true << withLayout << false;
        QTest::newRow("text files only")
            << QStringList{"notes.txt"} << 3 << true << QStringList() << false;
        // Taken only to say why it is refused.
        QTest::newRow("built-in refused") << image << 1 << true << QStringList() << false;
        QTest::newRow("text drag") << QStringList() << 3 << false << QStringList() << false;
    }

    void dropFiles()
    {
        QFETCH(QStringList, files);
        QFETCH(int, collection);
        QFETCH(bool, valid);
        QFETCH(QStringList, copied);
        QFETCH(bool, existing);
        auto controller = makeController();
        controller->selectCollection(collection);
        const QString kept = _root + "/My Frames/Real Frame.png";
        if (existing) {
            QVERIFY(solid(120, 80, Qt::red).save(kept));
            // A stale cache file: the drop must make the thumbnail afresh from the kept file.
            QVERIFY(QDir().mkpath(_root + "/My Frames/tncache"));
            QVERIFY(solid(72, 48, Qt::green).save(_root + "/My Frames/tncache/Real Frame_png.jpg"));
        }
        QTemporaryDir outside;
        QVERIFY(writeBytes(outside.filePath("notes.txt"), "text"));
        QVERIFY(writeBytes(outside.filePath("fake.png"), "not really a png"));
        QVERIFY(writeBytes(outside.filePath("Real Frame_frame.plist"), "<plist><dict/></plist>"));
        QVERIFY(solid(300, 200, Qt::blue).save(outside.filePath("Real Frame.png")));
        QStringList paths;
        for (const QString& file : files)
            paths.append(outside.filePath(file));
        std::unique_ptr<QMimeData> drag(fileMime(paths));
        const QMimeData& mime = *drag;
        if (files.isEmpty())
            drag->setText("just words");
        QVERIFY(!controller->validateDrop(&mime, true)); // a drag from inside the program

        // Through the table, as a drag from another application arrives.
        SheetCatcher alerts("Okay");
        const DropResult result = dropOn(controller->tableView()->viewport(), mime);
        QCOMPARE(result.entered, valid);
        QCOMPARE(result.dropped, !copied.isEmpty());
        if (collection == 1)
            QTRY_COMPARE(alerts.last().informative, controller->dropRefusal(&mime));
        QCOMPARE(alerts.seen.size(), collection == 1 ? 1 : 0);
        QVERIFY(collection == 1 || controller->dropRefusal(&mime).isEmpty());
        QCOMPARE(QDir(_root + "/My Frames").entryList(QDir::Files), copied);
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

    void download_data()
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
        row("not found", "/missing.png", "");
        row("times out", "/slow.png", "", "", 300);
    }

    void download()
    {
        QFETCH(QString, path);
        QFETCH(QString, existing);
        QFETCH(int, timeoutMs);
        QFETCH(QString, savedName);
        FrameServer server;
        auto controller = makeController();
        controller->downloader()->setLimits(server.png.size() + 1000, timeoutMs);
        controller->selectCollection(3);
        const QString folder = _root + "/My Frames";
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
        QCOMPARE(finished.at(0).at(1).toString(),
                 savedName.isEmpty() ? "" : folder + "/" + savedName);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), expected);
        QCOMPARE(controller->tableView()->rowCount(), int(expected.size()));
        QCOMPARE(controller->downloader()->activeDownloads(), 0);
        if (!existing.isEmpty())
            QCOMPARE(QImage(folder + "/" + existing).size(), QSize(10, 10));
        QCOMPARE(entries(_root), QStringList{"My Frames"}); // nothing written outside
        // Only http(s) is fetched.
        QCOMPARE(controller->copyURL(QUrl("ftp://example.org/x.png"), 3), 0);
        QCOMPARE(controller->copyURL(QUrl("file:///etc/passwd"), 3), 0);
    }

    void windowGoesFirst()
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

    void keysSelectSetsOnly_data()
    {
        // Items: 0 Builtin A, 1 Builtin B, 3 My Frames, 5 Create, 6 Remove, 7 Rename.
        QTest::addColumn<QString>("target"); // the pop-up, its open list (on Create), the wheel
        QTest::addColumn<int>("start");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("runs"); // the command's sheet comes up
        auto row = [](const char* tag, const QString& target, int start, const QList<int>& keys,
                      int expected, bool runs) {
            QTest::newRow(tag) << target << start << keys << expected << runs;
        };
        row("wheel", "wheel", 3, {}, 3, false);
        row("down past the last set", "pop-up", 3, {Qt::Key_Down}, 3, false);
        row("end, page down", "pop-up", 3, {Qt::Key_End, Qt::Key_PageDown}, 3, false);
        row("a command's initial", "pop-up", 3, {Qt::Key_R}, 3, false);
        row("up over the separator", "pop-up", 3, {Qt::Key_Up}, 1, false);
        row("down over the separator", "pop-up", 1, {Qt::Key_Down}, 3, false);
        row("return in the open list", "list", 3, {Qt::Key_Return}, 3, true);
    }

    void keysSelectSetsOnly()
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
        SheetCatcher sheets("cancelButton"); // were a command to run, its sheet would show
        QWidget* receiver = pop;
        if (target == "list") {
            pop->showPopup();
            pop->view()->setCurrentIndex(pop->model()->index(pop->findData(101), 0));
            receiver = pop->view();
        }
        for (int key : keys)
            QTest::keyClick(receiver, Qt::Key(key));
        for (int i = 0; i < 10 && target == "wheel"; ++i) {
            QWheelEvent wheel(QPointF(5, 5), pop->mapToGlobal(QPointF(5, 5)), QPoint(),
                              QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
            QApplication::sendEvent(pop, &wheel);
        }
        QCOMPARE(sheets.seen.size(), runs ? 1 : 0);
        QCOMPARE(pop->currentIndex(), expected);
        QCOMPARE(controller->selectedCollection(), expected);
        QCOMPARE(_defaults->integerForKey(DefSelectedCollection), expected);
        // A new set clears the chosen frame; staying, or a command cancelled, leaves it.
        QCOMPARE(chosen.count(), expected == start ? 0 : 1);
    }
};

QTEST_MAIN(TestThumbnailController)
#include "test_thumbnail_controller.moc"
