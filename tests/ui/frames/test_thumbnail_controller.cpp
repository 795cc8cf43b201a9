#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "ui/frames/CollectionPopUp.h"
#include "ui/frames/FrameDownloader.h"
#include "ui/frames/ThumbnailController.h"
#include "ui/frames/ThumbnailTableView.h"

#include "foundation/DefaultsKeys.h"
#include "foundation/PropertyList.h"
#include "foundation/Resources.h"
#include "foundation/UserDefaults.h"
#include "ui/ZTWindow.h"

#include <QDockWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

using Controller = ThumbnailController;
constexpr int Create = Controller::CreateFrameSetTag, Remove = Controller::RemoveFrameSetTag,
              Rename = Controller::RenameFrameSetTag, DeleteKey = 0;

struct Layout {
    bool builtins;
    QStringList userSets;
    int stored, expected;
};
struct Refusal {
    int set, frame, command; // frame -1: none selected
    QString name;            // typed into the naming sheet
    bool confirm;
    int sheets;
};
struct Drop {
    QStringList files; // none: a text drag
    int collection;    // 1: "Builtin B", 3: "My Frames"
    bool entered;
    QStringList copied;
    bool existing; // "My Frames" already has a red "Real Frame.png"
};
struct Download {
    QString path, savedName = {}; // savedName empty: nothing saved
    QString existing = {};        // a frame already in the collection
    int timeoutMs = 10000;
};
struct Keys {
    bool openList; // on Create; else the closed pop-up
    int start;
    QList<int> keys; // 0: a turn of the wheel
    int expected;
};

// Serves a small PNG, and on some paths the ways a server can fail a download.
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

QImage thumbnailAt(const Controller& controller, int row)
{
    return controller.frames().index(row).data(Qt::DecorationRole).value<QImage>();
}

} // namespace

class TestThumbnailController : public QObject {
    Q_OBJECT

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

    std::unique_ptr<Controller> makeController()
    {
        auto controller = std::make_unique<Controller>(*_defaults, _window.get());
        controller->panel()->show();
        return controller;
    }

    static void run(Controller& controller, int command)
    {
        controller.selectCollection(controller.collectionPopUp()->rowOfCommand(command));
    }

    static bool enabled(Controller& controller, int command)
    {
        CollectionPopUp* pop = controller.collectionPopUp();
        return pop->isRowEnabled(pop->rowOfCommand(command));
    }

    // The pop-up shows it, and the next start selects it again.
    void expectSelected(Controller& controller, int row)
    {
        QCOMPARE(controller.collectionPopUp()->currentIndex(), row);
        QCOMPARE(controller.selectedCollection(), row);
        QCOMPARE(_defaults->integerForKey(DefSelectedCollection), row);
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
    }

    void popUpLayout_data()
    {
        // userSets "file": a file where the user folder goes; stored: the selection stored at
        // the last quit. With Extra the items are 0 1 | 3 4 | commands.
        QTest::addColumn<Layout>("c");
        QTest::newRow("first start") << Layout{true, {}, 0, 0};
        QTest::newRow("last of three user sets") << Layout{true, {"Alpha", "Beta", "Gamma"}, 6, 6};
        QTest::newRow("user folder is a file") << Layout{true, {"file"}, 3, 0};
        QTest::newRow("equal to the built-in count") << Layout{true, {"Extra"}, 2, 0};
        QTest::newRow("past the last user set") << Layout{true, {"Extra"}, 5, 0};
        QTest::newRow("a command") << Layout{true, {"Extra"}, 7, 0};
        QTest::newRow("negative") << Layout{true, {"Extra"}, -3, 0};
        // Without built-in sets item 0 is the separator: the first user set is taken.
        QTest::newRow("no built-in sets") << Layout{false, {"Extra"}, 0, 1};
    }

    void popUpLayout()
    {
        QFETCH(const Layout, c);
        const auto& [builtins, userSets, stored, expected] = c;
        const bool blocked = userSets == QStringList{"file"};
        if (!builtins)
            QVERIFY(QDir(_dir->filePath("resources/borders")).removeRecursively());
        QVERIFY(!blocked || writeBytes(_root, "a file where the folder should be"));
        for (const QString& name : blocked ? QStringList() : userSets)
            makeUserCollection(name, 1);
        _defaults->setInteger(stored, DefSelectedCollection);
        auto controller = makeController();
        expectSelected(*controller, expected);
        CollectionPopUp* pop = controller->collectionPopUp();
        QStringList users = blocked ? QStringList() : userSets + QStringList{"My Frames"};
        users.sort(Qt::CaseInsensitive);
        // The stored selection is a place in this list: sets, separator, sets, separator.
        QStringList sets = builtins ? QStringList{"Builtin A", "Builtin B"} : QStringList();
        sets += QStringList{""} + users + QStringList{""};
        const QList<int> commands{Create, Remove, Rename};
        for (int row = 0; row < sets.size() + 3; ++row) {
            QCOMPARE(pop->itemText(row).isEmpty(), sets.value(row, "command").isEmpty());
            QCOMPARE(pop->commandAt(row), commands.value(row - sets.size()));
            if (row >= sets.size() || sets[row].isEmpty())
                continue;
            QCOMPARE(pop->itemText(row), sets[row]);
            controller->selectCollection(row);
            const bool user = users.contains(sets[row]);
            QCOMPARE(controller->currentCollectionName(), user ? sets[row] : QString());
            QVERIFY(enabled(*controller, Create));
            QCOMPARE(enabled(*controller, Remove), user);
            QCOMPARE(enabled(*controller, Rename), user);
            for (int separator = 0; separator < sets.size(); ++separator)
                QCOMPARE(pop->isRowEnabled(separator), !sets[separator].isEmpty());
        }
        if (!blocked)
            return;
        SheetCatcher alert;
        run(*controller, Create);
        QCOMPARE(alert.seen.size(), 1);
        expectSelected(*controller, 1);
        QVERIFY(QFileInfo(_root).isFile());
    }

    void pickingFrame()
    {
        const QString folder = makeUserCollection("Mine", 3);
        auto controller = makeController();
        ThumbnailTableView* table = controller->tableView();
        QSignalSpy chosen(controller.get(), &Controller::frameChosen);
        controller->selectCollection(controller->collectionPopUp()->findText("Mine"));
        QCOMPARE(controller->currentCollectionPath(), folder);
        QCOMPARE(table->model()->rowCount(), 3);
        table->selectRow(1);
        controller->deselectAll();
        QCOMPARE(chosen.count(), 3);
        QCOMPARE(chosen.at(1).at(0).toString(), folder + "/Frame 1.png");
        QVERIFY(chosen.at(0).at(0).toString().isEmpty() && chosen.at(2).at(0).toString().isEmpty());
        QCOMPARE(table->selectedRow(), -1);

        // A new frame, and one edited after its thumbnail was made, show after a refresh.
        QVERIFY(solid(120, 80, Qt::red).save(folder + "/Later.png"));
        QFile edited(folder + "/Frame 0.png");
        QVERIFY(solid(90, 60, Qt::red).save(edited.fileName()) &&
                edited.open(QIODevice::ReadWrite));
        QVERIFY(edited.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                   QFileDevice::FileModificationTime));
        controller->refreshAction()->trigger();
        QCOMPARE(table->model()->rowCount(), 4);
        expectSelected(*controller, 3);
        const QImage thumb = thumbnailAt(*controller, 0);
        QCOMPARE(thumb.pixel(thumb.width() / 2, thumb.height() / 2), qRgb(255, 0, 0));
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
            CollectionPopUp* pop = controller->collectionPopUp();
            controller->selectCollection(1);
            std::optional<SheetCatcher> sheet(std::in_place, "confirmButton", nullptr,
                                              "  Holidays ");
            run(*controller, Create);
            QVERIFY(QFileInfo(_root + "/Holidays").isDir());
            QCOMPARE(pop->currentText(), QString("Holidays"));
            expectSelected(*controller, pop->currentIndex());
            QCOMPARE(nextStartShows(), QString("Holidays"));
            QVERIFY(enabled(*controller, Remove));

            // Renamed, the set stays on show with its frame selected, now in the new folder.
            controller->selectCollection(pop->findText("Old"));
            controller->tableView()->selectRow(1);
            sheet.emplace("confirmButton", nullptr, "attic");
            run(*controller, Rename);
            QCOMPARE(sheet->last().field, QString("Old"));
            QVERIFY(QFileInfo::exists(_root + "/attic/tncache/Frame 0_png.jpg"));
            QCOMPARE(controller->currentCollectionName(), QString("attic"));
            QCOMPARE(pop->currentText(), QString("attic"));
            QCOMPARE(controller->selectedFramePath(), _root + "/attic/Frame 1.png");
            QCOMPARE(nextStartShows(), QString("attic"));
            sheet.emplace();
            controller->deleteFrameAction()->trigger();
            QVERIFY(!QFileInfo::exists(_root + "/attic/Frame 1.png"));
            QCOMPARE(controller->tableView()->model()->rowCount(), 1);

            controller->selectCollection(pop->findText("Holidays"));
            sheet.emplace();
            run(*controller, Remove);
            QVERIFY(sheet->last().informative.contains("Holidays"));
            QCOMPARE(pop->findText("Holidays"), -1);
            expectSelected(*controller, 0);
            QVERIFY(!enabled(*controller, Remove));
        }
        QStringList left =
            nextStart + (orderFile ? QStringList{"collections.plist"} : QStringList());
        left.sort();
        QCOMPARE(entries(_root), left); // nothing left behind in hiding
        auto controller = makeController();
        QCOMPARE(controller->collectionPopUp()->itemText(3), nextStart[0]);
        QCOMPARE(controller->collectionPopUp()->itemText(4), nextStart[1]);
    }

    void commandChangesNothing_data()
    {
        // Users: My Frames (3), Old (4), which holds Frame 0 and Frame 1, as Builtin A (0) holds
        // two. A refusing alert takes its default button.
        QTest::addColumn<Refusal>("c");
        QTest::newRow("create cancelled") << Refusal{4, 1, Create, "Other", false, 1};
        QTest::newRow("remove cancelled") << Refusal{4, 1, Remove, "", false, 1};
        QTest::newRow("rename cancelled") << Refusal{4, 1, Rename, "Other", false, 1};
        QTest::newRow("create blank") << Refusal{4, 1, Create, "   ", true, 2};
        QTest::newRow("create outside") << Refusal{4, 1, Create, "../escape", true, 2};
        QTest::newRow("create existing") << Refusal{4, 1, Create, "My Frames", true, 2};
        QTest::newRow("rename existing") << Refusal{4, 1, Rename, "My Frames", true, 2};
        QTest::newRow("rename parent") << Refusal{4, 1, Rename, "..", true, 2};
        QTest::newRow("delete built-in") << Refusal{0, 0, DeleteKey, "", true, 1};
        QTest::newRow("don't delete") << Refusal{4, 1, DeleteKey, "", false, 1};
        QTest::newRow("delete, none selected") << Refusal{4, -1, DeleteKey, "", true, 0};
    }

    void commandChangesNothing()
    {
        QFETCH(const Refusal, c);
        makeUserCollection("Old", 2);
        auto controller = makeController();
        CollectionPopUp* pop = controller->collectionPopUp();
        ThumbnailTableView* table = controller->tableView();
        controller->selectCollection(c.set);
        table->selectRow(c.frame);
        const auto disk = [this] {
            return QList<QStringList>{entries(_root), entries(_root + "/.."),
                                      entries(_root + "/Old"),
                                      entries(_dir->filePath("resources/borders/Builtin A"))};
        };
        const QList<QStringList> before = disk();
        QSignalSpy chosen(controller.get(), &Controller::frameChosen);
        SheetCatcher sheets(c.confirm ? "confirmButton" : SheetCatcher::Escape, nullptr, c.name);
        if (c.command == DeleteKey) {
            // The key goes down and comes up on the table: the release is the command.
            QTest::keyPress(table, Qt::Key_Backspace);
            QVERIFY(!sheets.shown());
            QTest::keyRelease(table, Qt::Key_Backspace);
        } else {
            pop->setCurrentIndex(pop->rowOfCommand(c.command)); // as the open list leaves it
            run(*controller, c.command);
        }
        QCOMPARE(sheets.seen.size(), c.sheets);
        QCOMPARE(disk(), before);
        QCOMPARE(table->model()->rowCount(), 2);
        QCOMPARE(pop->itemText(4), QString("Old"));
        expectSelected(*controller, c.set);
        QCOMPARE(chosen.count(), 0); // the frame on the photo stays
    }

    void dropFiles_data()
    {
        QTest::addColumn<Drop>("c");
        const QStringList image{"Real Frame.png"}, none, notes{"notes.txt"};
        const QStringList withLayout{"Real Frame.png", "Real Frame_frame.plist"};
        QTest::newRow("three files, one image")
            << Drop{{"notes.txt", "fake.png", "Real Frame.png"}, 3, true, image, false};
        QTest::newRow("existing name kept") << Drop{image, 3, true, image, true};
        QTest::newRow("layout comes along") << Drop{withLayout, 3, true, withLayout, false};
        QTest::newRow("text files only") << Drop{notes, 3, true, none, false};
        // Taken only to say why it is refused.
        QTest::newRow("built-in refused") << Drop{image, 1, true, none, false};
        QTest::newRow("text drag") << Drop{none, 3, false, none, false};
    }

    void dropFiles()
    {
        QFETCH(const Drop, c);
        const auto& [files, collection, entered, copied, existing] = c;
        auto controller = makeController();
        controller->selectCollection(collection);
        const QString kept = _root + "/My Frames/Real Frame.png";
        // With a stale cache file: the drop must make the thumbnail afresh from the kept file.
        QVERIFY(!existing ||
                (solid(120, 80, Qt::red).save(kept) &&
                 QDir().mkpath(_root + "/My Frames/tncache") &&
                 solid(72, 48, Qt::green).save(_root + "/My Frames/tncache/Real Frame_png.jpg")));
        QTemporaryDir outside;
        QVERIFY(solid(300, 200, Qt::blue).save(outside.filePath("Real Frame.png")));
        QStringList paths;
        for (const QString& file : files) { // none but the PNG is an image
            paths << outside.filePath(file);
            QVERIFY(QFile::exists(paths.last()) ||
                    writeBytes(paths.last(), "<plist><dict/></plist>"));
        }
        std::unique_ptr<QMimeData> drag(fileMime(paths));
        if (files.isEmpty())
            drag->setText("just words");
        QVERIFY(!controller->validateDrop(drag.get(), true)); // a drag from inside the program

        // Through the table, as a drag from another application arrives.
        SheetCatcher alerts;
        const DropResult result = dropOn(controller->tableView()->viewport(), *drag);
        QCOMPARE(result.entered, entered);
        QCOMPARE(result.dropped, !copied.isEmpty());
        if (collection == 1)
            QTRY_COMPARE(alerts.last().informative, controller->dropRefusal(drag.get()));
        QCOMPARE(alerts.seen.size(), collection == 1 ? 1 : 0);
        QVERIFY(collection == 1 || controller->dropRefusal(drag.get()).isEmpty());
        QCOMPARE(QDir(_root + "/My Frames").entryList(QDir::Files), copied);
        QCOMPARE(QDir(_dir->filePath("resources/borders/Builtin B")).entryList(QDir::Files),
                 QStringList{"Square.png"});
        const qsizetype frames = copied.filter(QRegularExpression("\\.png$")).size();
        QCOMPARE(controller->tableView()->model()->rowCount(), collection == 1 ? 1 : frames);
        if (copied.isEmpty())
            return;
        QCOMPARE(QImage(kept).pixel(10, 10), existing ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
        const QImage thumb = thumbnailAt(*controller, 0);
        QCOMPARE(thumb.size(), QSize(72, 48));
        const QRgb centre = thumb.pixel(36, 24);
        QVERIFY(qGreen(centre) < 60 && (existing ? qRed(centre) > 200 : qBlue(centre) > 200));
    }

    void download_data()
    {
        QTest::addColumn<Download>("c");
        QTest::newRow("frame") << Download{"/frames/Gold.png", "Gold.png"};
        QTest::newRow("no extension gets one") << Download{"/frames/gold", "gold.png"};
        QTest::newRow("parent reference") << Download{"/a/%2E%2E", "Downloaded Frame.png"};
        QTest::newRow("never overwrites") << Download{"/Gold.png", "Gold-1.png", "Gold.png"};
        QTest::newRow("too big") << Download{"/big.png"};
        QTest::newRow("too big, no length") << Download{"/stream.png"};
        QTest::newRow("cut short") << Download{"/trunc.png"};
        QTest::newRow("not found") << Download{"/missing.png"};
        QTest::newRow("times out") << Download{"/slow.png", "", "", 300};
    }

    void download()
    {
        QFETCH(const Download, c);
        const auto& [path, savedName, existing, timeoutMs] = c;
        FrameServer server;
        auto controller = makeController();
        controller->downloader()->setLimits(server.png.size() + 1000, timeoutMs);
        controller->selectCollection(3);
        const QString folder = _root + "/My Frames";
        QStringList expected = QStringList{existing, savedName}.filter(QRegularExpression("."));
        expected.sort(Qt::CaseInsensitive);
        QVERIFY(existing.isEmpty() || solid(10, 10, Qt::green).save(folder + "/" + existing));
        QMimeData mime;
        mime.setUrls({server.url(path)});
        QSignalSpy finished(controller->downloader(), &FrameDownloader::downloadFinished);
        QVERIFY(controller->validateDrop(&mime, false) && controller->acceptDrop(&mime));
        QVERIFY(finished.wait(15000));
        QCOMPARE(finished.at(0).at(0).toString(), folder);
        QCOMPARE(finished.at(0).at(1).toString(),
                 savedName.isEmpty() ? "" : folder + "/" + savedName);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), expected);
        QCOMPARE(controller->tableView()->model()->rowCount(), expected.size());
        QCOMPARE(controller->downloader()->activeDownloads(), 0);
        QVERIFY(existing.isEmpty() || QImage(folder + "/" + existing).size() == QSize(10, 10));
        QCOMPARE(entries(_root), QStringList{"My Frames"}); // nothing written outside
        mime.setUrls({QUrl("ftp://example.org/x.png")});    // only http(s) is fetched
        QVERIFY(!controller->validateDrop(&mime, false) && !controller->acceptDrop(&mime));
    }

    void windowGoesFirst()
    {
        auto controller = makeController();
        auto* dock = new QDockWidget(_window.get());
        dock->setWidget(controller->panel());
        _window->addDockWidget(Qt::LeftDockWidgetArea, dock);
        _window.reset();
        QVERIFY(!controller->panel());
    }

    void keysSelectSetsOnly_data()
    {
        // Items: 0 Builtin A, 1 Builtin B, 3 My Frames, then the commands.
        QTest::addColumn<Keys>("c");
        QTest::newRow("wheel") << Keys{false, 3, QList<int>(10, 0), 3};
        QTest::newRow("down past the last set") << Keys{false, 3, {Qt::Key_Down}, 3};
        QTest::newRow("end, page down") << Keys{false, 3, {Qt::Key_End, Qt::Key_PageDown}, 3};
        QTest::newRow("a command's initial") << Keys{false, 3, {Qt::Key_R}, 3};
        QTest::newRow("up over the separator") << Keys{false, 3, {Qt::Key_Up}, 1};
        QTest::newRow("down over the separator") << Keys{false, 1, {Qt::Key_Down}, 3};
        QTest::newRow("return in the open list") << Keys{true, 3, {Qt::Key_Return}, 3};
    }

    void keysSelectSetsOnly()
    {
        QFETCH(const Keys, c);
        const auto& [openList, start, keys, expected] = c;
        auto controller = makeController();
        controller->selectCollection(start);
        CollectionPopUp* pop = controller->collectionPopUp();
        pop->setFocus();
        QSignalSpy chosen(controller.get(), &Controller::frameChosen);
        SheetCatcher sheets(SheetCatcher::Escape); // were a command to run, its sheet would show
        QWidget* receiver = pop;
        if (openList) {
            pop->showPopup();
            pop->view()->setCurrentIndex(pop->model()->index(pop->rowOfCommand(Create), 0));
            receiver = pop->view();
        }
        QWheelEvent wheel(QPointF(5, 5), pop->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        for (int key : keys)
            key ? QTest::keyClick(receiver, Qt::Key(key))
                : (void)QApplication::sendEvent(pop, &wheel);
        QCOMPARE(sheets.seen.size(), openList ? 1 : 0);
        expectSelected(*controller, expected);
        // A new set clears the chosen frame; staying, or a command cancelled, leaves it.
        QCOMPARE(chosen.count(), expected == start ? 0 : 1);
    }
};

QTEST_MAIN(TestThumbnailController)
#include "test_thumbnail_controller.moc"
