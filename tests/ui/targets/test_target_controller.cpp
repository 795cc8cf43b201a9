#include "HostileInputs.h"
#include "targets/TestReceiver.h"

#include "compositing/Document.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "targets/Destination.h"
#include "ui/PreviewView.h"
#include "ui/SheetHost.h"
#include "ui/targets/ApplicationChooser.h"
#include "ui/targets/DestinationSetupSheet.h"
#include "ui/targets/DestinationTableModel.h"
#include "ui/targets/TargetController.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// Runs the sheets without a modal loop: the test answers a panel with a function, and the
// messages are only noted.
class FakeHost : public SheetHost {
public:
    std::function<int(QDialog*)> answer = [](QDialog*) { return 0; };
    QStringList titles;

    int runPromptSheet(QDialog* panel) override { return answer(panel); }
    int runPromptSheetWithTitle(const QString& title, const QString&, const QString&,
                                const QString&, const QString&) override
    {
        titles << title;
        return 1;
    }
    void runMessageSheetWithTitle(const QString& title, const QString&) override
    {
        titles << title;
    }
};

QVariantMap folder(const QString& path, const QString& label)
{
    return Destination::configWithDestination(path, label, Destination::Folder);
}

// Each item as "title key", a separator as "-".
QStringList layout(const QMenu* menu)
{
    QStringList items;
    for (const QAction* item : menu->actions())
        items << (item->isSeparator() ? QStringLiteral("-")
                                      : (item->text() + QLatin1Char(' ') +
                                         item->shortcut().toString(QKeySequence::PortableText))
                                            .trimmed());
    return items;
}

int enabledItems(const QMenu* menu)
{
    int enabled = 0;
    for (const QAction* item : menu->actions())
        enabled += !item->isSeparator() && item->isEnabled();
    return enabled;
}

// A double-click as the window system delivers it.
void doubleClick(QWidget* view)
{
    const QPointF at = QRectF(view->rect()).center();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                    QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, view->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(view, &event);
    }
}

} // namespace

class TestTargetController : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void menuLayout_data();
    void menuLayout();
    void itemsNeedAPhoto();
    void setupSheet_data();
    void setupSheet();
    void drops_data();
    void drops();
    void sending_data();
    void sending();

private:
    void makeController(const QVariantList& records, int defaultPosition = 0);

    QTemporaryDir _tmp;
    TestReceiver _receiver;
    std::unique_ptr<UserDefaults> _defaults;
    std::unique_ptr<QWidget> _window;
    Document _document;
    PreviewView* _preview = nullptr;
    QMenu* _sendTo = nullptr;
    FakeHost _host;
    std::unique_ptr<TargetController> _controller;
    int _settingsFiles = 0;
};

void TestTargetController::initTestCase()
{
    QVERIFY(_tmp.isValid());
    QVERIFY(_receiver.make(_tmp.path()));
}

void TestTargetController::init()
{
    _defaults = std::make_unique<UserDefaults>(
        _tmp.filePath(QStringLiteral("settings-%1.plist").arg(++_settingsFiles)));
    _window = std::make_unique<QWidget>();
    _document.setPhoto(QImage());
    _preview = new PreviewView(_window.get());
    _preview->setDocument(&_document);
    _preview->resize(300, 200);
    _sendTo = new QMenu(_window.get());
    _host = FakeHost();
}

void TestTargetController::cleanup()
{
    _controller.reset();
    _window.reset();
    _defaults.reset();
}

void TestTargetController::makeController(const QVariantList& records, int defaultPosition)
{
    _defaults->setObject(records, DefDestinations);
    _defaults->setInteger(defaultPosition, DefDefaultDestination);
    _controller = std::make_unique<TargetController>(*_defaults, _preview, _window.get(), &_host);
    _controller->setSendToMenu(_sendTo);
    connect(_preview, &PreviewView::doubleClicked, _controller.get(),
            &TargetController::sendToDefaultDestination);
    QSignalSpy built(_controller.get(), &TargetController::menusRebuilt);
    // Both menus come a moment after start, not at once.
    QVERIFY(_sendTo->isEmpty());
    QVERIFY(built.wait(2000));
}

void TestTargetController::menuLayout_data()
{
    QTest::addColumn<QVariantList>("records");
    QTest::addColumn<QStringList>("keys"); // of the destinations' items, which come first
    QTest::addColumn<QString>("icon");     // what the first record's desktop entry names as Icon=

    QTest::newRow("empty list: no leading separator") << QVariantList() << QStringList() << "";
    QVariantList eleven;
    QStringList elevenKeys;
    for (int i = 1; i <= 11; ++i) {
        eleven << folder("/tmp", QString::number(i));
        // The tenth takes the digit after 9; there is no key left for the eleventh.
        elevenKeys << (i <= 10 ? QStringLiteral("Ctrl+Alt+%1").arg(i % 10) : QString());
    }
    QTest::newRow("eleven records") << eleven << elevenKeys << "";
    // The icon is read as the menus are built, as the window comes up: neither may hold it.
    for (const char* icon : {"FIFO", "100 megapixels"}) {
        const QString entry = _tmp.filePath(QStringLiteral("icon %1.desktop").arg(icon));
        QTest::newRow(qPrintable(QStringLiteral("icon of %1").arg(icon)))
            << QVariantList{Destination::configWithDestination(entry, "Viewer", 1)}
            << QStringList{"Ctrl+Alt+1"} << icon;
    }
}

void TestTargetController::menuLayout()
{
    QFETCH(QVariantList, records);
    QFETCH(QStringList, keys);
    QFETCH(QString, icon);
    std::unique_ptr<FifoWatch> fifo;
    if (!icon.isEmpty()) {
        const QString iconPath = _tmp.filePath(QStringLiteral("icon-%1.png").arg(icon));
        QFile::remove(iconPath);
        if (icon == "FIFO") {
            QVERIFY(makeHostile(Hostile::Fifo, iconPath));
            fifo = std::make_unique<FifoWatch>(iconPath);
        } else {
            // 10000 x 10000 in the header, under the limit of a photo.
            QVERIFY(writeBytes(iconPath, hugePngHeader(10000)));
        }
        QVERIFY(TestReceiver::writeFile(
            records.first().toMap().value("destination").toString(),
            "[Desktop Entry]\nType=Application\nName=Viewer\nExec=true %f\nIcon=" +
                QFile::encodeName(iconPath) + "\n",
            false));
    }
    makeController(records);
    if (!icon.isEmpty()) {
        QVERIFY(_sendTo->actions().first()->icon().isNull());
        QVERIFY(!fifo || !fifo->wasOpened());
    }
    QStringList expected;
    for (int i = 0; i < records.size(); ++i)
        expected << (Destination::labelForDestination(records.at(i).toMap()) + ' ' + keys.at(i))
                        .trimmed();
    const QStringList items = layout(_sendTo);
    QCOMPARE(items.mid(0, expected.size()), expected);
    QCOMPARE(items.value(expected.size()) == QStringLiteral("-"), !expected.isEmpty());
    QCOMPARE(layout(_controller->contextMenu()), items);
    // Rebuilding replaces the items rather than adding to them.
    _controller->destinationsDidChange();
    QCOMPARE(layout(_sendTo), items);
}

void TestTargetController::itemsNeedAPhoto()
{
    QVariantMap tagged = folder("/tmp", "Pictures");
    tagged.insert("tag", 7);
    makeController({tagged});
    QCOMPARE(_sendTo->actions().first()->property("tag").toInt(), 7);
    // Without a photo, or while busy, only the set-up item.
    const int all = int(layout(_sendTo).size() - layout(_sendTo).count("-"));
    QCOMPARE(enabledItems(_sendTo), 1);
    for (const CommandTable::State& state :
         {CommandTable::State{.hasPhoto = true, .busy = true},
          CommandTable::State{.hasPhoto = true, .customizing = true}}) {
        _controller->validateCommands({.hasPhoto = true});
        QCOMPARE(enabledItems(_sendTo), all);
        QCOMPARE(enabledItems(_controller->contextMenu()), all);
        _controller->validateCommands(state);
        QCOMPARE(enabledItems(_sendTo), 1);
    }
    // The items come back as they were after the menus are rebuilt.
    _controller->validateCommands({.hasPhoto = true});
    _controller->destinationsDidChange();
    QCOMPARE(enabledItems(_sendTo), all);
    // The companions' items of both menus and the commands ask for the same sends.
    QSignalSpy trimlet(_controller.get(), &TargetController::sendToTrimletRequested);
    QSignalSpy shuttlebox(_controller.get(), &TargetController::sendToShuttleboxRequested);
    _sendTo->actions().at(2)->trigger();
    _controller->contextMenu()->actions().at(3)->trigger();
    for (QAction* command : _controller->commands())
        command->trigger();
    QCOMPARE(trimlet.count(), 2);
    QCOMPARE(shuttlebox.count(), 2);
}

void TestTargetController::setupSheet_data()
{
    QTest::addColumn<QString>("edit"); // what is done in the sheet
    QTest::addColumn<int>("answer");   // the button's tag
    QTest::addColumn<int>("defaultAfter");
    QTest::addColumn<int>("stored"); // records before

    for (const char* edit : {"remove all", "default 0"})
        for (const int answer : {0, 1})
            QTest::addRow("%s, %s", edit, answer ? "confirmed" : "cancelled")
                << QString(edit) << answer << (QString(edit) == "default 0" && answer ? 0 : 1) << 2;
    QTest::newRow("revert, then confirm") << QStringLiteral("revert") << 1 << 1 << 2;
    QTest::newRow("confirm 205 untouched") << QStringLiteral("nothing") << 1 << 1 << 205;
}

void TestTargetController::setupSheet()
{
    QFETCH(QString, edit);
    QFETCH(int, answer);
    QFETCH(int, defaultAfter);
    QFETCH(int, stored);
    QVariantList records;
    for (int i = 0; i < stored; ++i)
        records << folder("/tmp", QString(QChar('A' + i % 26)));
    makeController(records, 1);
    const QStringList before = layout(_sendTo);
    int rowsAfterRevert = -1;
    bool startsIdle = false;
    _host.answer = [&](QDialog* panel) {
        auto* sheet = qobject_cast<DestinationSetupSheet*>(panel);
        if (!sheet)
            return -5;
        // Nothing selected, nothing to revert: nothing to remove either.
        startsIdle = !sheet->removeButton()->isEnabled() && !sheet->revertButton()->isEnabled();
        while (edit != "nothing" && edit != "default 0" && sheet->model()->rowCount() > 0) {
            sheet->selectRow(0);
            sheet->removeTarget();
        }
        if (edit == "default 0") {
            sheet->selectRow(0);
            sheet->setDefault();
        }
        if (edit == "revert") {
            sheet->revert();
            rowsAfterRevert = sheet->model()->rowCount();
        }
        return answer;
    };
    QCOMPARE(_controller->setup(), answer);
    QVERIFY(startsIdle);
    QCOMPARE(rowsAfterRevert, edit == "revert" ? 2 : -1);
    const bool emptied = edit == "remove all" && answer != 0;
    // Confirmed empty, the menus keep only the companions and the set-up item.
    QCOMPARE(layout(_sendTo), emptied ? before.mid(3) : before);
    QCOMPARE(layout(_controller->contextMenu()), layout(_sendTo));
    QCOMPARE(DestinationList::storedRecords(*_defaults).size(), emptied ? 0 : stored);
    // The menus show no more than their bound; the list keeps every record.
    if (stored > DestinationList::kMaxMenuItems)
        QCOMPARE(_sendTo->actions().size(), DestinationList::kMaxMenuItems + 5);
    QCOMPARE(DestinationList::storedDefault(*_defaults), answer ? defaultAfter : 1);
}

void TestTargetController::drops_data()
{
    QTest::addColumn<QStringList>("paths"); // under the temporary folder; "row" drags row 0
    QTest::addColumn<QString>("where");     // where the pointer lets go, or "Other…"
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("order");

    QTest::newRow("three folders: the first only")
        << QStringList{"f1", "f2", "f3"} << "top of 1" << true << "A,f1,B,C";
    QTest::newRow("application onto row 2")
        << QStringList{"Receiver.app"} << "middle of 2" << true << "A,B,Receiver,C";
    QTest::newRow("lower half of row 1 goes above it")
        << QStringList{"f1"} << "lower half of 1" << true << "A,f1,B,C";
    QTest::newRow("below the last row") << QStringList{"f1"} << "below" << true << "A,B,C,f1";
    QTest::newRow("a plain file") << QStringList{"plain.txt"} << "top of 0" << false << "A,B,C";
    QTest::newRow("own row to the end") << QStringList{"row"} << "below" << false << "B,C,A";
    QTest::newRow("own row onto the lower half of the last")
        << QStringList{"row"} << "lower half of 2" << false << "B,A,C";
    // "Other…" of Add Application takes what a drop takes; it adds at the end.
    QTest::newRow("Other…: an app folder")
        << QStringList{"Receiver.app"} << "Other…" << true << "A,B,C,Receiver";
    QTest::newRow("Other…: a program")
        << QStringList{"receive.sh"} << "Other…" << true << "A,B,C,receive";
    QTest::newRow("Other…: a plain file")
        << QStringList{"plain.txt"} << "Other…" << false << "A,B,C";
}

void TestTargetController::drops()
{
    QFETCH(QStringList, paths);
    QFETCH(QString, where);
    QFETCH(bool, accepted);
    QFETCH(QString, order);
    for (const char* name : {"f1", "f2", "f3"})
        QVERIFY(QDir().mkpath(_tmp.filePath(name)));
    QVERIFY(TestReceiver::writeFile(_tmp.filePath("plain.txt"), "text", false));
    makeController({folder("/a", "A"), folder("/b", "B"), folder("/c", "C")});
    std::unique_ptr<QMimeData> mime;
    if (paths == QStringList{"row"}) {
        mime.reset(DestinationTableModel::mimeDataForRows({0}));
    } else {
        mime = std::make_unique<QMimeData>();
        QList<QUrl> urls;
        for (const QString& name : paths)
            urls << QUrl::fromLocalFile(_tmp.filePath(name));
        mime->setUrls(urls);
    }
    QStringList labels;
    bool chosen = false;
    Qt::DropAction asked = Qt::IgnoreAction; // while moving over the table
    Qt::DropAction answered = Qt::IgnoreAction;
    bool canDrop = false;
    bool dropped = false;
    _host.answer = [&](QDialog* panel) {
        auto* sheet = qobject_cast<DestinationSetupSheet*>(panel);
        DestinationTableModel* model = sheet->model();
        if (where == "Other…") {
            ApplicationChooser chooser({}, sheet);
            QTimer::singleShot(0, &chooser, [&] {
                auto* files = chooser.findChild<QFileDialog*>();
                const QString path = _tmp.filePath(paths.first());
                // Opening an app folder chooses it; a file is chosen as usual.
                if (path.endsWith(".app")) {
                    files->setDirectory(path);
                } else {
                    files->selectFile(path);
                    static_cast<QDialog*>(files)->accept();
                }
            });
            chooser.otherButton()->click();
            chosen = chooser.result() == QDialog::Accepted;
            if (chosen)
                sheet->addPath(chooser.chosenPath());
        } else {
            sheet->show();
            QTableView* view = sheet->tableView();
            const int row = where.right(1).toInt();
            const QRect cell = view->visualRect(model->index(where == "below" ? 2 : row, 2));
            const QPoint at = where == "below"             ? cell.center() + QPoint(0, 40)
                              : where.startsWith("top")    ? cell.topLeft() + QPoint(20, 1)
                              : where.startsWith("middle") ? cell.center()
                                                           : cell.bottomLeft() + QPoint(20, -6);
            // Shift asks for a move, as a file manager may propose one.
            const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
            QDragEnterEvent enter(at, offered, mime.get(), Qt::LeftButton, Qt::ShiftModifier);
            QDragMoveEvent move(at, offered, mime.get(), Qt::LeftButton, Qt::ShiftModifier);
            QDropEvent drop(at, offered, mime.get(), Qt::LeftButton, Qt::ShiftModifier);
            QCoreApplication::sendEvent(view->viewport(), &enter);
            QCoreApplication::sendEvent(view->viewport(), &move);
            QCoreApplication::sendEvent(view->viewport(), &drop);
            canDrop = move.isAccepted();
            asked = move.dropAction();
            dropped = drop.isAccepted();
            answered = drop.dropAction();
        }
        for (int r = 0; r < model->rowCount(); ++r)
            labels << model->index(r, 2).data().toString();
        sheet->hide();
        return 0;
    };
    _controller->setup();
    if (where == "Other…") {
        QCOMPARE(chosen, accepted);
    } else {
        QVERIFY(canDrop);
        // An own row has moved already when the drop answers; accepting would make the
        // view remove it. Files stay where they are: a copy, never a move.
        QCOMPARE(dropped, accepted);
        if (mime->hasUrls())
            QCOMPARE(asked, Qt::CopyAction);
        if (accepted)
            QCOMPARE(answered, Qt::CopyAction);
    }
    QCOMPARE(labels.join(','), order);
    // Several rows never drag.
    QVERIFY(!DestinationTableModel::mimeDataForRows({0, 1}));
}

void TestTargetController::sending_data()
{
    QTest::addColumn<QString>("kind"); // of the destination
    QTest::addColumn<int>("defaultPosition");
    QTest::addColumn<QString>("how"); // "double-click" or "menu"
    QTest::addColumn<bool>("photo");
    QTest::addColumn<QString>("expected"); // "received", "folder", "message", "nothing"

    const auto row = [](const char* name, const char* kind, int position, const char* how,
                        bool photo, const char* expected) {
        QTest::newRow(name) << QString(kind) << position << QString(how) << photo
                            << QString(expected);
    };
    row("double-click to an application", "app", 0, "double-click", true, "received");
    row("menu to an application", "app", 5, "menu", true, "received");
    row("menu to a folder", "folder", 0, "menu", true, "folder");
    row("folder that is gone", "gone folder", 0, "menu", true, "message");
    row("application that is gone", "gone app", 0, "menu", true, "message");
    row("no photo", "app", 0, "double-click", false, "nothing");
    row("default past the end", "app", 1, "double-click", true, "nothing");
    row("unknown type", "unknown", 0, "double-click", true, "nothing");
    // A record without a path keeps its place: the default still means the application.
    const char* broken = "app behind a broken record";
    row("double-click past a record without a path", broken, 1, "double-click", true, "received");
    row("double-click on a record without a path", broken, 0, "double-click", true, "message");
}

void TestTargetController::sending()
{
    QFETCH(QString, kind);
    QFETCH(int, defaultPosition);
    QFETCH(QString, how);
    QFETCH(bool, photo);
    QFETCH(QString, expected);
    const QString folderPath = _tmp.filePath("saved");
    QVERIFY(QDir().mkpath(folderPath));
    QVariantMap record = kind.startsWith("app") ? Destination::configForPath(_receiver.entry)
                                                : folder(folderPath, "Saved");
    if (kind == "gone folder")
        record = folder(_tmp.filePath("gone"), "Gone");
    else if (kind == "gone app")
        record = Destination::configWithDestination(_tmp.filePath("gone.desktop"), "Gone", 1);
    else if (kind == "unknown")
        record.insert("targetType", 2);
    QVariantList records{record};
    if (kind == "app behind a broken record") {
        // Behind it a folder, which a shift of the positions would make the default.
        records = {QVariantMap{{"label", "Gone"}, {"targetType", 1}}, record,
                   folder(folderPath, "Saved")};
    }
    makeController(records, defaultPosition);
    if (photo)
        _document.setPhoto(solid(8, 6, Qt::darkGreen, QImage::Format_RGB32));
    _controller->validateCommands({.hasPhoto = photo});
    const QString sent = _tmp.filePath(QStringLiteral("%1.jpg").arg(QTest::currentDataTag()));
    int written = 0;
    _controller->setTmpFileWriter([&](QString*) {
        ++written;
        TestReceiver::writeFile(sent, "framed", false);
        return sent;
    });
    QSignalSpy folders(_controller.get(), &TargetController::saveDocumentInFolderRequested);
    _window->show();
    if (how == "menu")
        _sendTo->actions().first()->trigger();
    else
        doubleClick(_preview);

    if (expected == "received")
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(_receiver.received(sent)), 10000);
    else
        QVERIFY(!QFileInfo::exists(_receiver.received(sent)));
    QCOMPARE(written, expected == "received" ? 1 : 0);
    QCOMPARE(folders.count(), expected == "folder" ? 1 : 0);
    if (expected == "folder")
        QCOMPARE(folders.first().first().toString(), folderPath);
    QCOMPARE(_host.titles.size(), expected == "message" ? 1 : 0);
    if (expected == "message")
        QVERIFY(_host.titles.first().contains("Gone"));
}

QTEST_MAIN(TestTargetController)
#include "test_target_controller.moc"
