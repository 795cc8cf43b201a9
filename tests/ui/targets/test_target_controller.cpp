#include "HostileInputs.h"
#include "targets/TestReceiver.h"

#include "compositing/Document.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "targets/Destination.h"
#include "ui/PreviewView.h"
#include "ui/SheetHost.h"
#include "ui/targets/DestinationSetupSheet.h"
#include "ui/targets/DestinationTableModel.h"
#include "ui/targets/TargetController.h"

#include <QAction>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
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
    for (const QAction* item : menu->actions()) {
        const QString key = item->shortcut().toString(QKeySequence::PortableText);
        items << (item->isSeparator() ? "-" : (item->text() + ' ' + key).trimmed());
    }
    return items;
}

int enabledItems(const QMenu* menu)
{
    const QList<QAction*> items = menu->actions();
    return int(std::count_if(items.begin(), items.end(),
                             [](const QAction* a) { return !a->isSeparator() && a->isEnabled(); }));
}

// What is done in the setup sheet before a button ends it.
struct Edit {
    QStringList drag; // files under the temporary folder dropped on the table, or "row": row 0
    QPoint where;     // the row where it is let go, and how far down in it, in percent
    QString edit;     // or "remove all", "default 0", "revert"
    int answer;       // the tag of the button that ends the sheet
    QString rows;     // the rows' labels then
    int stored = 3;   // records before
};

struct Send {
    QString kind; // of the destination
    int defaultPosition;
    bool menu, photo; // menu: the destination's item, else the default destination
    QString expected; // "received", "folder", "message", "nothing"
};

} // namespace

class TestTargetController : public QObject {
    Q_OBJECT

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

    void makeController(const QVariantList& records, int defaultPosition = 0)
    {
        _defaults->setObject(records, DefDestinations);
        _defaults->setInteger(defaultPosition, DefDefaultDestination);
        _controller =
            std::make_unique<TargetController>(*_defaults, _preview, _window.get(), &_host);
        _controller->setSendToMenu(_sendTo);
        QSignalSpy built(_controller.get(), &TargetController::menusRebuilt);
        // Both menus come a moment after start, not at once.
        QVERIFY(_sendTo->isEmpty());
        QVERIFY(built.wait(2000));
    }

private slots:
    void initTestCase() { QVERIFY(_tmp.isValid() && _receiver.make(_tmp.path())); }

    void init()
    {
        _defaults = std::make_unique<UserDefaults>(
            _tmp.filePath(QStringLiteral("settings-%1.plist").arg(++_settingsFiles)));
        _window = std::make_unique<QWidget>();
        _document.setPhoto(QImage());
        _preview = new PreviewView(_window.get());
        _preview->setDocument(&_document);
        _sendTo = new QMenu(_window.get());
        _host = FakeHost();
    }

    void cleanup()
    {
        _controller.reset();
        _window.reset();
        _defaults.reset();
    }

    void menus_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<QString>("icon"); // what the one record's desktop entry names as Icon=
        QTest::newRow("empty list: no leading separator") << 0 << "";
        QTest::newRow("eleven records") << 11 << "";
        // The icon is read as the menus are built, as the window comes up: neither may hold it.
        QTest::newRow("icon of a FIFO") << 1 << "FIFO";
        QTest::newRow("icon of 100 megapixels") << 1 << "100 megapixels";
    }

    void menus()
    {
        QFETCH(int, records);
        QFETCH(QString, icon);
        QVariantList list;
        for (int i = 1; i <= records; ++i)
            list << folder("/tmp", QString::number(i));
        std::unique_ptr<FifoWatch> fifo;
        if (!icon.isEmpty()) {
            const QString iconPath = _tmp.filePath("icon-" + icon + ".png");
            const QString entry = _tmp.filePath("icon " + icon + ".desktop");
            // 10000 x 10000 in the header, under the limit of a photo.
            QVERIFY(icon == "FIFO" ? makeHostile(Hostile::Fifo, iconPath)
                                   : writeBytes(iconPath, hugePngHeader(10000)));
            if (icon == "FIFO")
                fifo = std::make_unique<FifoWatch>(iconPath);
            QVERIFY(writeBytes(entry, "[Desktop Entry]\nType=Application\nName=Viewer\nExec=true "
                                      "%f\nIcon=" +
                                          QFile::encodeName(iconPath) + "\n"));
            list = {Destination::configWithDestination(entry, "Viewer", 1)};
        }
        makeController(list);
        QVERIFY(icon.isEmpty() || _sendTo->actions().first()->icon().isNull());
        QVERIFY(!fifo || !fifo->wasOpened());
        // The tenth takes the digit after 9; there is no key left for the eleventh.
        QStringList expected;
        for (int i = 0; i < list.size(); ++i)
            expected << Destination::labelForDestination(list.at(i).toMap()) +
                            (i < 10 ? QString(" Ctrl+Alt+%1").arg((i + 1) % 10) : "");
        const QStringList items = layout(_sendTo);
        QCOMPARE(items.mid(0, expected.size()), expected);
        const int companions = int(expected.size()) + !expected.isEmpty();
        QCOMPARE(items.value(companions - 1) == "-", !expected.isEmpty());
        QCOMPARE(layout(_controller->contextMenu()), items);
        // Without a photo, or while busy, only the set-up item.
        const int all = int(items.size() - items.count("-"));
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
        // Rebuilt, the menus replace their items, which come back as they were.
        _controller->validateCommands({.hasPhoto = true});
        _controller->destinationsDidChange();
        QCOMPARE(layout(_sendTo), items);
        QCOMPARE(enabledItems(_sendTo), all);
        // The companions' items of both menus and the commands ask for the same sends.
        QSignalSpy trimlet(_controller.get(), &TargetController::sendToTrimletRequested);
        QSignalSpy shuttlebox(_controller.get(), &TargetController::sendToShuttleboxRequested);
        _sendTo->actions().at(companions)->trigger();
        _controller->contextMenu()->actions().at(companions + 1)->trigger();
        for (QAction* command : _controller->commands())
            command->trigger();
        QCOMPARE(QList<qsizetype>({trimlet.count(), shuttlebox.count()}), QList<qsizetype>({2, 2}));
    }

    void setupSheet_data()
    {
        QTest::addColumn<Edit>("c");
        for (const char* edit : {"remove all", "default 0"})
            for (const int answer : {0, 1})
                QTest::addRow("%s, %s", edit, answer ? "confirmed" : "cancelled")
                    << Edit{{}, {}, edit, answer, QString(edit) == "remove all" ? "" : "A,B,C"};
        QTest::newRow("revert, then confirm") << Edit{{}, {}, "revert", 1, "A,B,C"};
        QTest::newRow("confirm 205 untouched") << Edit{{}, {}, "", 1, "", 205};
        // Dropped, then cancelled.
        QTest::newRow("three folders: the first only")
            << Edit{{"f1", "f2", "f3"}, {1, 5}, "", 0, "A,f1,B,C"};
        QTest::newRow("application onto row 2")
            << Edit{{"Receiver.app"}, {2, 50}, "", 0, "A,B,Receiver,C"};
        QTest::newRow("lower half of row 1 goes above it")
            << Edit{{"f1"}, {1, 80}, "", 0, "A,f1,B,C"};
        QTest::newRow("below the last row") << Edit{{"f1"}, {2, 250}, "", 0, "A,B,C,f1"};
        QTest::newRow("a plain file") << Edit{{"plain.txt"}, {0, 5}, "", 0, "A,B,C"};
        QTest::newRow("own row to the end") << Edit{{"row"}, {2, 250}, "", 0, "B,C,A"};
        QTest::newRow("own row onto the lower half of the last")
            << Edit{{"row"}, {2, 80}, "", 0, "B,A,C"};
    }

    void setupSheet()
    {
        QFETCH(const Edit, c);
        for (const char* name : {"f1", "f2", "f3"})
            QVERIFY(QDir().mkpath(_tmp.filePath(name)));
        QVERIFY(TestReceiver::writeFile(_tmp.filePath("plain.txt"), "text", false));
        QVariantList records;
        for (int i = 0; i < c.stored; ++i)
            records << folder("/tmp", QString(QChar('A' + i % 26)));
        makeController(records, 1);
        const QStringList before = layout(_sendTo);
        const bool own = c.drag == QStringList{"row"};
        std::unique_ptr<QMimeData> mime(own ? DestinationTableModel::mimeDataForRows({0})
                                            : fileMime(QStringList(c.drag).replaceInStrings(
                                                  QRegularExpression("^"), _tmp.path() + "/")));
        QStringList labels;
        bool startsIdle = false;
        std::unique_ptr<QDropEvent> move, drop;
        _host.answer = [&](QDialog* panel) {
            auto* sheet = qobject_cast<DestinationSetupSheet*>(panel);
            // Nothing selected, nothing to revert: nothing to remove either.
            startsIdle = !sheet->removeButton()->isEnabled() && !sheet->revertButton()->isEnabled();
            sheet->show();
            const QRect cell =
                sheet->tableView()->visualRect(sheet->model()->index(c.where.x(), 2));
            const QPoint at = cell.topLeft() + QPoint(20, cell.height() * c.where.y() / 100);
            // Shift asks for a move, as a file manager may propose one.
            const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
            QDragEnterEvent enter(at, offered, mime.get(), Qt::LeftButton, Qt::ShiftModifier);
            move = std::make_unique<QDragMoveEvent>(at, offered, mime.get(), Qt::LeftButton,
                                                    Qt::ShiftModifier);
            drop = std::make_unique<QDropEvent>(at, offered, mime.get(), Qt::LeftButton,
                                                Qt::ShiftModifier);
            for (QEvent* event : std::initializer_list<QEvent*>{&enter, move.get(), drop.get()})
                if (!c.drag.isEmpty())
                    QCoreApplication::sendEvent(sheet->tableView()->viewport(), event);
            while ((c.edit == "remove all" || c.edit == "revert") && sheet->model()->rowCount()) {
                sheet->selectRow(0);
                sheet->removeTarget();
            }
            if (c.edit == "default 0") {
                sheet->selectRow(0);
                sheet->setDefault();
            }
            if (c.edit == "revert")
                sheet->revert();
            for (int r = 0; r < sheet->model()->rowCount(); ++r)
                labels << sheet->model()->index(r, 2).data().toString();
            sheet->hide();
            return c.answer;
        };
        QCOMPARE(_controller->setup(), c.answer);
        QVERIFY(startsIdle);
        if (c.stored == 3)
            QCOMPARE(labels.join(','), c.rows);
        // An own row has moved already when the drop answers; accepting would make the view
        // remove it. Files stay where they are: a copy, never a move.
        const bool accepted = !own && c.rows != "A,B,C";
        QVERIFY(c.drag.isEmpty() || (move->isAccepted() && drop->isAccepted() == accepted));
        QVERIFY(own || c.drag.isEmpty() || move->dropAction() == Qt::CopyAction);
        QVERIFY(!accepted || c.drag.isEmpty() || drop->dropAction() == Qt::CopyAction);
        const bool emptied = c.edit == "remove all" && c.answer != 0;
        // Confirmed empty, the menus keep only the companions and the set-up item.
        QCOMPARE(layout(_sendTo), emptied ? before.mid(c.stored + 1) : before);
        QCOMPARE(layout(_controller->contextMenu()), layout(_sendTo));
        QCOMPARE(DestinationList::storedRecords(*_defaults).size(), emptied ? 0 : c.stored);
        // The menus show no more than their bound; the list keeps every record.
        if (c.stored > DestinationList::kMaxMenuItems)
            QCOMPARE(_sendTo->actions().size(), DestinationList::kMaxMenuItems + 5);
        QCOMPARE(DestinationList::storedDefault(*_defaults),
                 c.answer && c.edit == "default 0" ? 0 : 1);
        // Several rows never drag.
        QVERIFY(!DestinationTableModel::mimeDataForRows({0, 1}));
    }

    void sending_data()
    {
        QTest::addColumn<Send>("c");
        QTest::newRow("default: an application") << Send{"app", 0, false, true, "received"};
        QTest::newRow("menu to an application") << Send{"app", 5, true, true, "received"};
        QTest::newRow("menu to a folder") << Send{"folder", 0, true, true, "folder"};
        QTest::newRow("folder that is gone") << Send{"gone folder", 0, true, true, "message"};
        QTest::newRow("application that is gone") << Send{"gone app", 0, true, true, "message"};
        QTest::newRow("no photo") << Send{"app", 0, false, false, "nothing"};
        QTest::newRow("default past the end") << Send{"app", 1, false, true, "nothing"};
        QTest::newRow("unknown type") << Send{"unknown", 0, false, true, "nothing"};
        // A record without a path keeps its place: the default still means the application.
        QTest::newRow("default past a record without a path")
            << Send{"broken", 1, false, true, "received"};
        QTest::newRow("default on a record without a path")
            << Send{"broken", 0, false, true, "message"};
    }

    void sending()
    {
        QFETCH(const Send, c);
        const auto& [kind, defaultPosition, menu, photo, expected] = c;
        const QString saved = _tmp.filePath("saved");
        QVERIFY(QDir().mkpath(saved));
        QVariantMap record =
            kind == "folder" ? folder(saved, "Saved") : Destination::configForPath(_receiver.entry);
        if (kind == "gone folder")
            record = folder(_tmp.filePath("gone"), "Gone");
        else if (kind == "gone app")
            record = Destination::configWithDestination(_tmp.filePath("gone.desktop"), "Gone", 1);
        else if (kind == "unknown")
            record.insert("targetType", 2);
        QVariantList records{record};
        // Behind it a folder, which a shift of the positions would make the default.
        if (kind == "broken")
            records = {QVariantMap{{"label", "Gone"}, {"targetType", 1}}, record,
                       folder(saved, "Saved")};
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
        menu ? _sendTo->actions().first()->trigger() : _controller->sendToDefaultDestination();
        if (expected == "received")
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(_receiver.received(sent)), 10000);
        const bool received = QFileInfo::exists(_receiver.received(sent));
        QCOMPARE(QList<qsizetype>({received, written, folders.count(), _host.titles.size()}),
                 QList<qsizetype>({expected == "received", expected == "received",
                                   expected == "folder", expected == "message"}));
        QCOMPARE(folders.value(0).value(0).toString(), expected == "folder" ? saved : QString());
        QVERIFY(expected != "message" || _host.titles.first().contains("Gone"));
    }
};

QTEST_MAIN(TestTargetController)
#include "test_target_controller.moc"
