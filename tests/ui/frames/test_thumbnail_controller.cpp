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
              Rename = Controller::RenameFrameSetTag, Backspace = Qt::Key_Backspace;

struct Layout {
    bool builtins;
    QStringList userSets; // "file": a file where the user folder goes
    int stored, expected; // the selection stored at the last quit, the one made
};
struct Gesture {
    int set, frame;  // frame -1: none selected
    QList<int> keys; // commands from the open list, keys on the closed one (0: the wheel)
    QString name;    // typed into the naming sheet
    bool confirm;
    int sheets, selected;
};
struct Drop {
    QStringList files;     // in another program's folder, or paths on the server; none: text
    int collection;        // 1: "Builtin B", 3: "My Frames"
    QStringList after;     // the files of "My Frames" after the drop
    QString existing = {}; // there before, red, with a stale green thumbnail
    int timeoutMs = 10000;
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

} // namespace

class TestThumbnailController : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> _dir;
    std::unique_ptr<UserDefaults> _defaults;
    std::unique_ptr<ZTWindow> _window;
    QString _root; // the user's frame folder

    // As after a first start: the user folder always comes with "My Frames".
    void makeUserCollection(const QString& name, int frames)
    {
        QVERIFY(QDir().mkpath(_root + "/My Frames") && QDir().mkpath(_root + "/" + name));
        for (int i = 0; i < frames; ++i)
            QVERIFY(
                solid(90, 60, Qt::gray).save(_root + QString("/%1/Frame %2.png").arg(name).arg(i)));
    }

    std::unique_ptr<Controller> makeController()
    {
        auto controller = std::make_unique<Controller>(*_defaults, _window.get());
        controller->panel()->show();
        return controller;
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
        const QString borders = _dir->filePath("resources/borders/");
        for (const char* frame :
             {"Builtin A/Wide.png", "Builtin A/Tall.png", "Builtin B/Square.png"})
            QVERIFY(QDir().mkpath(QFileInfo(borders + frame).path()) &&
                    solid(120, 80, Qt::white).save(borders + frame));
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
        // With Extra the items are 0 1 | 3 4 | commands.
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
        const bool blocked = c.userSets == QStringList{"file"};
        QVERIFY(c.builtins || QDir(_dir->filePath("resources/borders")).removeRecursively());
        QVERIFY(!blocked || writeBytes(_root, "a file where the folder should be"));
        for (const QString& name : blocked ? QStringList() : c.userSets)
            makeUserCollection(name, 1);
        _defaults->setInteger(c.stored, DefSelectedCollection);
        auto controller = makeController();
        expectSelected(*controller, c.expected);
        // The stored selection is a place in this list: sets, separator, sets, separator. A
        // set shown with how many of rename, remove and its name as the user set are there.
        QStringList users = blocked ? QStringList() : c.userSets + QStringList{"My Frames"};
        users.sort(Qt::CaseInsensitive);
        QStringList expected =
            c.builtins ? QStringList{"Builtin A 0", "Builtin B 0"} : QStringList();
        expected << "-" << users.replaceInStrings(QRegularExpression("$"), " 3") << "-";
        CollectionPopUp* pop = controller->collectionPopUp();
        QStringList shown;
        for (int row = 0; row < pop->rowOfCommand(Create); ++row) {
            if (pop->isRowEnabled(row))
                controller->selectCollection(row);
            const QString text = pop->itemText(row);
            const int user = pop->isRowEnabled(pop->rowOfCommand(Remove)) +
                             pop->isRowEnabled(pop->rowOfCommand(Rename)) +
                             (controller->currentCollectionName() == text);
            shown << (pop->isRowEnabled(row) ? QString("%1 %2").arg(text).arg(user) : "-");
        }
        QCOMPARE(shown, expected);
        if (!blocked)
            return;
        SheetCatcher alert;
        controller->selectCollection(controller->collectionPopUp()->rowOfCommand(Create));
        QCOMPARE(alert.seen.size(), 1);
        expectSelected(*controller, 1);
        QVERIFY(QFileInfo(_root).isFile());
    }

    void createRenameRemove()
    {
        // The user's order of the sets, which the commands keep in step.
        makeUserCollection("Old", 2);
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
            controller->selectCollection(pop->rowOfCommand(Create));
            QCOMPARE(QStringList({pop->currentText(), nextStartShows()}),
                     QStringList(2, "Holidays"));

            // Renamed, the set stays on show with its frame chosen, now in the new folder.
            QStringList chosen;
            connect(controller.get(), &Controller::frameChosen,
                    [&](const QString& p) { chosen << p; });
            controller->selectCollection(pop->findText("Old"));
            controller->tableView()->selectRow(1);
            sheet.emplace("confirmButton", nullptr, "attic");
            controller->selectCollection(pop->rowOfCommand(Rename));
            QCOMPARE(QStringList({controller->currentCollectionName(), pop->currentText(),
                                  nextStartShows()}),
                     QStringList(3, "attic"));
            QCOMPARE(controller->selectedFramePath(), _root + "/attic/Frame 1.png");
            sheet.emplace();
            controller->deleteFrameAction()->trigger();
            QCOMPARE(entries(_root + "/attic"), QStringList({"Frame 0.png", "tncache"}));
            controller->deselectAll();
            // Deleting the chosen frame takes it off the photo, as deselecting does.
            QCOMPARE(chosen, QStringList({"", _root + "/Old/Frame 1.png", "", ""}));
            QCOMPARE(controller->tableView()->selectedRow(), -1);
            // A new frame shows after a refresh.
            QVERIFY(solid(120, 80, Qt::red).save(_root + "/attic/Later.png"));
            controller->refreshAction()->trigger();
            QCOMPARE(controller->tableView()->model()->rowCount(), 2);

            controller->selectCollection(pop->findText("Holidays"));
            sheet.emplace();
            controller->selectCollection(pop->rowOfCommand(Remove));
            QVERIFY(sheet->last().informative.contains("Holidays"));
            QCOMPARE(pop->findText("Holidays"), -1);
            expectSelected(*controller, 0);
        }
        // Nothing left behind in hiding.
        QCOMPARE(entries(_root), QStringList({"My Frames", "attic", "collections.plist"}));
        const auto next = makeController();
        const CollectionPopUp* pop = next->collectionPopUp();
        QCOMPARE(QStringList({pop->itemText(3), pop->itemText(4)}),
                 QStringList({"My Frames", "attic"}));
        // The window may go first, taking the panel along.
        auto* dock = new QDockWidget(_window.get());
        dock->setWidget(next->panel());
        _window->addDockWidget(Qt::LeftDockWidgetArea, dock);
        _window.reset();
        QVERIFY(!next->panel());
    }

    void gesturesChangeNothing_data()
    {
        // Items: 0 Builtin A (two frames), 1 Builtin B, 3 My Frames, 4 Old (Frame 0 and Frame
        // 1), then the commands. A refusing alert takes its default button.
        QTest::addColumn<Gesture>("c");
        QTest::newRow("create cancelled") << Gesture{4, 1, {Create}, "Other", false, 1, 4};
        QTest::newRow("remove cancelled") << Gesture{4, 1, {Remove}, "", false, 1, 4};
        QTest::newRow("rename cancelled") << Gesture{4, 1, {Rename}, "Other", false, 1, 4};
        QTest::newRow("create blank") << Gesture{4, 1, {Create}, "   ", true, 2, 4};
        QTest::newRow("create outside") << Gesture{4, 1, {Create}, "../escape", true, 2, 4};
        QTest::newRow("create existing") << Gesture{4, 1, {Create}, "My Frames", true, 2, 4};
        QTest::newRow("rename existing") << Gesture{4, 1, {Rename}, "My Frames", true, 2, 4};
        QTest::newRow("rename parent") << Gesture{4, 1, {Rename}, "..", true, 2, 4};
        QTest::newRow("delete built-in") << Gesture{0, 0, {Backspace}, "", true, 1, 0};
        QTest::newRow("don't delete") << Gesture{4, 1, {Backspace}, "", false, 1, 4};
        QTest::newRow("delete, none selected") << Gesture{4, -1, {Backspace}, "", true, 0, 4};
        // Only sets are chosen with the closed pop-up, never a command.
        QTest::newRow("wheel") << Gesture{4, -1, QList<int>(10, 0), "", false, 0, 4};
        QTest::newRow("down past the last set") << Gesture{4, -1, {Qt::Key_Down}, "", false, 0, 4};
        QTest::newRow("end, page down")
            << Gesture{4, -1, {Qt::Key_End, Qt::Key_PageDown}, "", false, 0, 4};
        QTest::newRow("a command's initial") << Gesture{4, -1, {Qt::Key_R}, "", false, 0, 4};
        QTest::newRow("up over the separator") << Gesture{3, -1, {Qt::Key_Up}, "", false, 0, 1};
        QTest::newRow("down over the separator") << Gesture{1, 0, {Qt::Key_Down}, "", false, 0, 3};
    }

    void gesturesChangeNothing()
    {
        QFETCH(const Gesture, c);
        makeUserCollection("Old", 2);
        auto controller = makeController();
        CollectionPopUp* pop = controller->collectionPopUp();
        ThumbnailTableView* table = controller->tableView();
        controller->selectCollection(c.set);
        table->selectRow(c.frame);
        pop->setFocus();
        const auto disk = [this] {
            return QList<QStringList>{entries(_root), entries(_root + "/.."),
                                      entries(_root + "/Old"),
                                      entries(_dir->filePath("resources/borders/Builtin A"))};
        };
        const QList<QStringList> before = disk();
        QSignalSpy chosen(controller.get(), &Controller::frameChosen);
        SheetCatcher sheets(c.confirm ? "confirmButton" : SheetCatcher::Escape, nullptr, c.name);
        QWheelEvent wheel(QPointF(5, 5), pop->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        for (int key : c.keys) {
            if (key == Backspace) {
                // The key goes down and comes up on the table: the release is the command.
                QTest::keyPress(table, Qt::Key_Backspace);
                QVERIFY(!sheets.shown());
                QTest::keyRelease(table, Qt::Key_Backspace);
            } else if (key == Create || key == Remove || key == Rename) {
                pop->showPopup();
                pop->view()->setCurrentIndex(pop->model()->index(pop->rowOfCommand(key), 0));
                QTest::keyClick(pop->view(), Qt::Key_Return);
            } else {
                key ? QTest::keyClick(pop, Qt::Key(key))
                    : (void)QApplication::sendEvent(pop, &wheel);
            }
        }
        QCOMPARE(sheets.seen.size(), c.sheets);
        QCOMPARE(disk(), before);
        expectSelected(*controller, c.selected);
        // A new set clears the chosen frame; staying, or a command cancelled, leaves it.
        QCOMPARE(chosen.count(), c.selected == c.set ? 0 : 1);
    }

    void drops_data()
    {
        QTest::addColumn<Drop>("c");
        const QStringList image{"Real Frame.png"}, none, notes{"notes.txt"};
        const QStringList withLayout{"Real Frame.png", "Real Frame_frame.plist"};
        QTest::newRow("three files, one image")
            << Drop{{"notes.txt", "fake.png", "Real Frame.png"}, 3, image};
        QTest::newRow("existing name kept") << Drop{image, 3, image, "Real Frame.png"};
        QTest::newRow("layout comes along") << Drop{withLayout, 3, withLayout};
        QTest::newRow("text files only") << Drop{notes, 3, none};
        // Taken only to say why it is refused.
        QTest::newRow("built-in refused") << Drop{image, 1, none};
        QTest::newRow("text drag") << Drop{none, 3, none};
        QTest::newRow("download") << Drop{{"/frames/Gold.png"}, 3, {"Gold.png"}};
        QTest::newRow("no extension gets one") << Drop{{"/frames/gold"}, 3, {"gold.png"}};
        QTest::newRow("parent reference") << Drop{{"/a/%2E%2E"}, 3, {"Downloaded Frame.png"}};
        QTest::newRow("download never overwrites")
            << Drop{{"/Gold.png"}, 3, {"Gold-1.png", "Gold.png"}, "Gold.png"};
        QTest::newRow("too big") << Drop{{"/big.png"}, 3, none};
        QTest::newRow("too big, no length") << Drop{{"/stream.png"}, 3, none};
        QTest::newRow("cut short") << Drop{{"/trunc.png"}, 3, none};
        QTest::newRow("not found") << Drop{{"/missing.png"}, 3, none};
        QTest::newRow("times out") << Drop{{"/slow.png"}, 3, none, "", 300};
    }

    void drops()
    {
        QFETCH(const Drop, c);
        FrameServer server;
        auto controller = makeController();
        controller->downloader()->setLimits(server.png.size() + 1000, c.timeoutMs);
        controller->selectCollection(c.collection);
        const QString folder = _root + "/My Frames";
        QVERIFY(c.existing.isEmpty() ||
                (solid(120, 80, Qt::red).save(folder + "/" + c.existing) &&
                 QDir().mkpath(folder + "/tncache") &&
                 solid(72, 48, Qt::green)
                     .save(folder + "/tncache/" + QString(c.existing).replace('.', '_') + ".jpg")));
        QTemporaryDir outside;
        QVERIFY(solid(300, 200, Qt::blue).save(outside.filePath("Real Frame.png")));
        const bool web = c.files.value(0).startsWith('/');
        QList<QUrl> urls;
        for (const QString& file : c.files) { // none but the PNG is an image
            urls << (web ? server.url(file) : QUrl::fromLocalFile(outside.filePath(file)));
            QVERIFY(web || QFile::exists(outside.filePath(file)) ||
                    writeBytes(outside.filePath(file), "<plist><dict/></plist>"));
        }
        QMimeData drag;
        urls.isEmpty() ? drag.setText("just words") : drag.setUrls(urls);
        QVERIFY(!controller->validateDrop(&drag, true)); // a drag from inside the program

        // Through the table, as a drag from another application arrives.
        SheetCatcher alerts;
        QSignalSpy finished(controller->downloader(), &FrameDownloader::downloadFinished);
        const DropResult result = dropOn(controller->tableView()->viewport(), drag);
        const bool builtin = c.collection == 1;
        QCOMPARE(std::pair(result.entered, result.dropped),
                 std::pair(!c.files.isEmpty(), web || !c.after.isEmpty()));
        QStringList added = c.after;
        added.removeAll(c.existing);
        QVERIFY(!web || finished.wait(15000));
        QCOMPARE(finished.value(0).value(1).toString(),
                 web && !added.isEmpty() ? folder + "/" + added[0] : QString());
        QCOMPARE(controller->downloader()->activeDownloads(), 0);
        QTRY_COMPARE(alerts.seen.size(), builtin ? 1 : 0);
        QCOMPARE(alerts.last().informative, controller->dropRefusal(&drag));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), c.after);
        QCOMPARE(entries(_root), QStringList{"My Frames"}); // nothing written outside
        QCOMPARE(QDir(_dir->filePath("resources/borders/Builtin B")).entryList(QDir::Files),
                 QStringList{"Square.png"});
        const qsizetype frames = c.after.filter(QRegularExpression("\\.png$")).size();
        QCOMPARE(controller->tableView()->model()->rowCount(), builtin ? 1 : frames);
        drag.setUrls({QUrl("ftp://example.org/x.png")}); // only http(s) is fetched
        QVERIFY(!controller->validateDrop(&drag, false) && !controller->acceptDrop(&drag));
        if (c.after.isEmpty())
            return;
        // The kept file, and its thumbnail made afresh.
        const QRgb expected = web || !c.existing.isEmpty() ? qRgb(255, 0, 0) : qRgb(0, 0, 255);
        QCOMPARE(QImage(folder + "/" + c.after[0]).pixel(10, 10), expected);
        const QImage thumbnail =
            controller->frames().index(0).data(Qt::DecorationRole).value<QImage>();
        const QRgb thumb = thumbnail.pixel(thumbnail.width() / 2, thumbnail.height() / 2);
        QVERIFY(qGreen(thumb) < 60 && qAbs(qRed(thumb) - qRed(expected)) < 60);
    }
};

QTEST_MAIN(TestThumbnailController)
#include "test_thumbnail_controller.moc"
