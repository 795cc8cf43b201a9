#include "frames/FrameDownloader.h"
#include "frames/ThumbnailCache.h"
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
#include <QDialog>
#include <QDir>
#include <QDockWidget>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

QImage solid(int w, int h, QColor color)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

QByteArray pngBytes(int w, int h, QColor color)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    solid(w, h, color).save(&buffer, "PNG");
    return bytes;
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// What the sheets showed, in order.
struct SheetLog {
    QStringList titles;
    QStringList messages;
};

QList<QPointer<QTimer>>& pendingAnswers()
{
    static QList<QPointer<QTimer>> timers;
    return timers;
}

// Runs the action on the next modal window (a sheet or an alert) once it is up.
void whenModal(std::function<void(QWidget*)> action)
{
    auto* timer = new QTimer;
    pendingAnswers().append(timer);
    auto tries = std::make_shared<int>(0);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, action, tries] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        } else if (++*tries > 1000) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

void answerAlert(const QString& button, SheetLog* log)
{
    whenModal([button, log](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        if (log) {
            log->titles.append(box->windowTitle());
            log->messages.append(box->informativeText());
        }
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == button) {
                b->click();
                return;
            }
        }
        QFAIL(qPrintable("no button " + button));
    });
}

void answerNameSheet(const QString& name, bool confirm, QString* shownName = nullptr)
{
    whenModal([name, confirm, shownName](QWidget* modal) {
        auto* field = modal->findChild<QLineEdit*>(QStringLiteral("nameField"));
        QVERIFY(field);
        if (shownName)
            *shownName = field->text();
        field->setText(name);
        auto* button = modal->findChild<QPushButton*>(confirm ? QStringLiteral("confirmButton")
                                                              : QStringLiteral("cancelButton"));
        QVERIFY(button);
        button->click();
    });
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

// A tiny HTTP server answering by path: enough to test the downloads without a network.
class FrameServer : public QObject {
public:
    QByteArray png = pngBytes(60, 40, Qt::red);

    FrameServer()
    {
        _server.listen(QHostAddress::LocalHost);
        QObject::connect(&_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = _server.nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    buffer->append(socket->readAll());
                    if (buffer->contains("\r\n\r\n"))
                        respond(socket, buffer->split(' ').value(1));
                });
            }
        });
    }
    QUrl url(const QString& path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(_server.serverPort()).arg(path));
    }

private:
    void respond(QTcpSocket* socket, const QByteArray& path)
    {
        auto send = [socket](const QByteArray& head, const QByteArray& body, bool close) {
            socket->write(head + "\r\n\r\n" + body);
            socket->flush();
            if (close)
                socket->disconnectFromHost();
        };
        if (path.startsWith("/slow"))
            return; // never answers
        if (path.startsWith("/big"))
            send("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 50000000", png,
                 false);
        else if (path.startsWith("/stream"))
            send("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nConnection: close",
                 png + QByteArray(5000, 'x'), true);
        else if (path.startsWith("/trunc"))
            send("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                     QByteArray::number(png.size()),
                 png.left(png.size() / 2), true);
        else if (path.startsWith("/text"))
            send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5", "hello", true);
        else if (path.startsWith("/missing"))
            send("HTTP/1.1 404 Not Found\r\nContent-Length: 3", "nop", true);
        else
            send("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                     QByteArray::number(png.size()),
                 png, true);
    }

    QTcpServer _server;
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
    void selectingEmitsAndStores();
    void pickingFrame();
    void firstStartMakesMyFramesOnce();
    void createCollection();
    void createCancelled();
    void createRefused_data();
    void createRefused();
    void removeCollection();
    void removeCancelled();
    void renameCollection();
    void renameCancelled();
    void renameRefused_data();
    void renameRefused();
    void deleteBuiltinFrame();
    void deleteUserFrame_data();
    void deleteUserFrame();
    void deleteKeyWithoutSelection();
    void dropThreeFilesOneImage();
    void dropTextOnly();
    void dropRefusedOnBuiltin();
    void dropKeepsExistingName();
    void dropEventsFromOutsideOnly();
    void refreshShowsNewFrames();
    void revealUserFolder();
    void noBuiltinCollections();
    void userFolderIsAFile();
    void download_data();
    void download();
    void downloadNeverOverwrites();
    void downloadTimesOut();
    void windowGoesFirst();
    void wheelDoesNotRunCommands();
    void userOrderFileKeptInStep();
    void thumbnailsDrawnCentred();

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
    if (!QFileInfo::exists(userRoot()))
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

namespace {
bool itemEnabled(QComboBox* pop, int i)
{
    auto* model = qobject_cast<QStandardItemModel*>(pop->model());
    return model && model->item(i) && model->item(i)->isEnabled();
}
} // namespace

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
    const int b = 2, u = int(users.size());
    QCOMPARE(controller->builtinCount(), b);
    QCOMPARE(controller->userCount(), u);
    QCOMPARE(pop->count(), b + u + 5);
    QCOMPARE(pop->itemText(0), QString("Builtin A"));
    QCOMPARE(pop->itemText(1), QString("Builtin B"));
    QCOMPARE(pop->itemText(b), QString());
    for (int k = 0; k < u; ++k)
        QCOMPARE(pop->itemText(b + 1 + k), users[k]);
    QCOMPARE(pop->itemText(b + u + 1), QString());
    QCOMPARE(pop->itemText(b + u + 2), QString("Create Frame Set"));
    QCOMPARE(pop->itemData(b + u + 2).toInt(), 101);
    QCOMPARE(pop->itemText(b + u + 3), QString("Remove Frame Set"));
    QCOMPARE(pop->itemData(b + u + 3).toInt(), 102);
    QCOMPARE(pop->itemText(b + u + 4), QString("Rename Frame Set"));
    QCOMPARE(pop->itemData(b + u + 4).toInt(), 103);

    // Every selectable collection, built-in and user, in turn.
    QList<int> indices{0, 1};
    for (int k = 0; k < u; ++k)
        indices.append(b + 1 + k);
    for (int index : indices) {
        controller->selectCollection(index);
        QCOMPARE(pop->currentIndex(), index);
        const bool user = index > b;
        QCOMPARE(itemEnabled(pop, b), false);
        QCOMPARE(itemEnabled(pop, b + u + 1), false);
        QCOMPARE(itemEnabled(pop, b + u + 2), true);
        QCOMPARE(itemEnabled(pop, b + u + 3), user);
        QCOMPARE(itemEnabled(pop, b + u + 4), user);
        QCOMPARE(controller->selectedUserCollection(), user ? index - b - 1 : -1);
        QCOMPARE(controller->currentCollectionName(), user ? users[index - b - 1] : QString());
    }
    // The table shows the built-in collection's frames, one column, in name order.
    controller->selectCollection(0);
    QCOMPARE(controller->tableView()->columnCount(), 1);
    QCOMPARE(controller->tableView()->rowCount(), 2);
    QCOMPARE(QFileInfo(controller->selectedThumbnails()[0].path).fileName(), QString("Tall.png"));
    QCOMPARE(controller->selectedThumbnails()[0].image.size(), QSize(32, 48));
    QCOMPARE(controller->selectedThumbnails()[1].image.size(), QSize(72, 48));
}

void TestThumbnailController::storedIndexRepair_data()
{
    // Two built-in sets and two user sets (Extra, My Frames): items 0 1 | 3 4 | commands.
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("expected");
    QTest::newRow("equal to the built-in count") << 2 << 0;
    QTest::newRow("past the last user set") << 5 << 0;
    QTest::newRow("a command") << 7 << 0;
    QTest::newRow("far too large") << 4000 << 0;
    QTest::newRow("negative") << -3 << 0;
    QTest::newRow("second built-in") << 1 << 1;
    QTest::newRow("last user set") << 4 << 4;
}

void TestThumbnailController::storedIndexRepair()
{
    QFETCH(int, stored);
    QFETCH(int, expected);
    makeUserCollection("Extra", 1);
    QVERIFY(QDir().mkpath(userRoot() + "/My Frames"));
    _defaults->setInteger(stored, DefSelectedCollection);
    auto controller = makeController();
    QCOMPARE(controller->selectedCollection(), expected);
    QCOMPARE(controller->collectionPopUp()->currentIndex(), expected);
    QCOMPARE(_defaults->integerForKey(DefSelectedCollection), expected);
}

void TestThumbnailController::selectingEmitsAndStores()
{
    makeUserCollection("Mine", 3);
    auto controller = makeController();
    QSignalSpy chosen(controller.get(), &ThumbnailController::frameChosen);
    controller->selectCollection(3); // "Mine" (after "My Frames"? no: M-i before M-y)
    QCOMPARE(controller->currentCollectionName(), QString("Mine"));
    QCOMPARE(_defaults->integerForKey(DefSelectedCollection), 3);
    QCOMPARE(controller->tableView()->rowCount(), 3);
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.at(0).at(0).toString(), QString());
    QCOMPARE(controller->currentCollectionPath(), userRoot() + "/Mine");
}

void TestThumbnailController::pickingFrame()
{
    auto controller = makeController();
    QSignalSpy chosen(controller.get(), &ThumbnailController::frameChosen);
    controller->tableView()->selectRow(1);
    QCOMPARE(chosen.count(), 1);
    const QString path = _dir->filePath("resources/borders/Builtin A/Wide.png");
    QCOMPARE(chosen.at(0).at(0).toString(), path);
    QCOMPARE(controller->selectedFramePath(), path);
    controller->deselectAll();
    QCOMPARE(chosen.count(), 2);
    QCOMPARE(chosen.at(1).at(0).toString(), QString());
    QCOMPARE(controller->tableView()->selectedRow(), -1);
}

void TestThumbnailController::firstStartMakesMyFramesOnce()
{
    {
        auto controller = makeController();
        QVERIFY(QFileInfo(userRoot() + "/My Frames").isDir());
        QCOMPARE(controller->collectionPopUp()->itemText(3), QString("My Frames"));
    }
    QVERIFY(QDir(userRoot() + "/My Frames").removeRecursively());
    auto controller = makeController();
    QVERIFY(!QFileInfo::exists(userRoot() + "/My Frames"));
    QCOMPARE(controller->userCount(), 0);
    QCOMPARE(controller->collectionPopUp()->count(), 2 + 0 + 5);
}

void TestThumbnailController::createCollection()
{
    auto controller = makeController(); // 2 built-in, "My Frames"
    controller->selectCollection(1);
    answerNameSheet("  Holidays ", true);
    controller->selectCollection(2 + 1 + 1 + 1); // "Create Frame Set"
    QVERIFY(QFileInfo(userRoot() + "/Holidays").isDir());
    QComboBox* pop = controller->collectionPopUp();
    QCOMPARE(controller->userCount(), 2);
    QCOMPARE(pop->itemText(4), QString("Holidays"));
    QCOMPARE(pop->currentIndex(), 4);
    QCOMPARE(controller->selectedCollection(), 4);
    QCOMPARE(_defaults->integerForKey(DefSelectedCollection), 4);
    QCOMPARE(pop->itemData(6).toInt(), 101);
    QCOMPARE(controller->tableView()->rowCount(), 0);
    QVERIFY(itemEnabled(pop, 7));
}

void TestThumbnailController::createCancelled()
{
    auto controller = makeController();
    controller->selectCollection(1);
    const QStringList before = QDir(userRoot()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    answerNameSheet("Never", false);
    controller->collectionPopUp()->setCurrentIndex(5);
    controller->selectCollection(5);
    QCOMPARE(controller->collectionPopUp()->currentIndex(), 1);
    QCOMPARE(controller->selectedCollection(), 1);
    QCOMPARE(QDir(userRoot()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    QCOMPARE(controller->userCount(), 1);
}

void TestThumbnailController::createRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << ""
                           << "Please type a name for the frame set.";
    QTest::newRow("blank") << "   "
                           << "Please type a name for the frame set.";
    QTest::newRow("separator") << "../escape"
                               << "A frame set name cannot contain \"/\" or \"\\\".";
    QTest::newRow("nested") << "a/b"
                            << "A frame set name cannot contain \"/\" or \"\\\".";
    QTest::newRow("hidden") << ".secret"
                            << "A frame set name cannot begin with \".\".";
    QTest::newRow("existing") << "My Frames"
                              << "A frame set named 'My Frames' already exists.";
}

void TestThumbnailController::createRefused()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    auto controller = makeController();
    controller->selectCollection(3);
    writeBytes(userRoot() + "/My Frames/keep.txt", "x");
    const QStringList before =
        QDir(userRoot()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    const QStringList parentBefore =
        QDir(userRoot() + "/..").entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    SheetLog log;
    answerNameSheet(name, true);
    QTimer::singleShot(0, [&log] { answerAlert("Okay", &log); });
    controller->selectCollection(5);
    QCOMPARE(log.titles, QStringList{"Frame Set Not Created"});
    QCOMPARE(log.messages, QStringList{message});
    QCOMPARE(QDir(userRoot()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             before);
    QCOMPARE(QDir(userRoot() + "/..").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             parentBefore);
    QVERIFY(QFileInfo::exists(userRoot() + "/My Frames/keep.txt"));
    QCOMPARE(controller->userCount(), 1);
    QCOMPARE(controller->collectionPopUp()->currentIndex(), 3);
}

void TestThumbnailController::removeCollection()
{
    makeUserCollection("Old", 2);
    auto controller = makeController(); // users: My Frames (3), Old (4)
    controller->selectCollection(4);
    SheetLog log;
    answerAlert("Remove", &log);
    controller->selectCollection(2 + 2 + 3); // "Remove Frame Set"
    QCOMPARE(log.titles, QStringList{"Remove Collection?"});
    QCOMPARE(log.messages, QStringList{"Are you sure you want to remove 'Old'"});
    QVERIFY(!QFileInfo::exists(userRoot() + "/Old"));
    QCOMPARE(controller->userCount(), 1);
    QCOMPARE(controller->collectionPopUp()->count(), 2 + 1 + 5);
    QCOMPARE(controller->selectedCollection(), 0);
    QCOMPARE(controller->collectionPopUp()->currentIndex(), 0);
    QVERIFY(!itemEnabled(controller->collectionPopUp(), 2 + 1 + 3));
    // Nothing is left behind in hiding either.
    QCOMPARE(QDir(userRoot()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"My Frames"});
}

void TestThumbnailController::removeCancelled()
{
    makeUserCollection("Old", 2);
    auto controller = makeController();
    controller->selectCollection(4);
    answerAlert("Don't Remove", nullptr);
    controller->collectionPopUp()->setCurrentIndex(7);
    controller->selectCollection(7);
    QVERIFY(QFileInfo::exists(userRoot() + "/Old/Frame 1.png"));
    QCOMPARE(controller->userCount(), 2);
    QCOMPARE(controller->collectionPopUp()->currentIndex(), 4);
    QCOMPARE(controller->selectedCollection(), 4);
}

void TestThumbnailController::renameCollection()
{
    makeUserCollection("Old", 2);
    auto controller = makeController();
    controller->selectCollection(4);
    QVERIFY(QFileInfo::exists(userRoot() + "/Old/tncache/Frame 0_png.jpg"));
    QString shown;
    answerNameSheet("New Name", true, &shown);
    controller->selectCollection(8); // "Rename Frame Set"
    QCOMPARE(shown, QString("Old"));
    QVERIFY(!QFileInfo::exists(userRoot() + "/Old"));
    QVERIFY(QFileInfo::exists(userRoot() + "/New Name/Frame 1.png"));
    QVERIFY(QFileInfo::exists(userRoot() + "/New Name/tncache/Frame 0_png.jpg"));
    QCOMPARE(controller->collectionPopUp()->itemText(4), QString("New Name"));
    QCOMPARE(controller->collectionPopUp()->currentIndex(), 4);
    QCOMPARE(controller->selectedThumbnails().size(), 2);
    QCOMPARE(controller->selectedThumbnails()[1].path, userRoot() + "/New Name/Frame 1.png");
    QSignalSpy chosen(controller.get(), &ThumbnailController::frameChosen);
    controller->tableView()->selectRow(0);
    QCOMPARE(chosen.last().at(0).toString(), userRoot() + "/New Name/Frame 0.png");
}

void TestThumbnailController::renameCancelled()
{
    makeUserCollection("Old", 1);
    auto controller = makeController();
    controller->selectCollection(4);
    answerNameSheet("Other", false);
    controller->collectionPopUp()->setCurrentIndex(8);
    controller->selectCollection(8);
    QVERIFY(QFileInfo::exists(userRoot() + "/Old/Frame 0.png"));
    QVERIFY(!QFileInfo::exists(userRoot() + "/Other"));
    QCOMPARE(controller->collectionPopUp()->itemText(4), QString("Old"));
    QCOMPARE(controller->collectionPopUp()->currentIndex(), 4);
    QCOMPARE(_defaults->integerForKey(DefSelectedCollection), 4);
}

void TestThumbnailController::renameRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("existing") << "My Frames"
                              << "A frame set named 'My Frames' already exists.";
    QTest::newRow("empty") << ""
                           << "Please type a name for the frame set.";
    QTest::newRow("parent") << ".."
                            << "A frame set name cannot begin with \".\".";
    QTest::newRow("separator") << "x/y"
                               << "A frame set name cannot contain \"/\" or \"\\\".";
}

void TestThumbnailController::renameRefused()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    makeUserCollection("Old", 1);
    auto controller = makeController();
    controller->selectCollection(4);
    SheetLog log;
    answerNameSheet(name, true);
    QTimer::singleShot(0, [&log] { answerAlert("Okay", &log); });
    controller->selectCollection(8);
    QCOMPARE(log.titles, QStringList{"Frame Set Not Renamed"});
    QCOMPARE(log.messages, QStringList{message});
    QVERIFY(QFileInfo::exists(userRoot() + "/Old/Frame 0.png"));
    QVERIFY(QFileInfo(userRoot() + "/My Frames").isDir());
    QCOMPARE(controller->collectionPopUp()->itemText(4), QString("Old"));
    QCOMPARE(controller->collectionPopUp()->currentIndex(), 4);
}

void TestThumbnailController::deleteBuiltinFrame()
{
    auto controller = makeController();
    controller->tableView()->selectRow(0);
    SheetLog log;
    answerAlert("Okay", &log);
    controller->deleteSelected();
    QCOMPARE(log.titles, QStringList{"Frame Not Deleted"});
    QCOMPARE(log.messages, QStringList{"Built-in frame sets cannot be modified."});
    QVERIFY(QFileInfo::exists(_dir->filePath("resources/borders/Builtin A/Tall.png")));
    QCOMPARE(controller->tableView()->rowCount(), 2);
}

void TestThumbnailController::deleteUserFrame_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("deleted");
    QTest::newRow("delete") << "Delete" << true;
    QTest::newRow("don't delete") << "Don't Delete" << false;
}

void TestThumbnailController::deleteUserFrame()
{
    QFETCH(QString, button);
    QFETCH(bool, deleted);
    makeUserCollection("Mine", 2);
    auto controller = makeController();
    controller->selectCollection(3);
    controller->tableView()->selectRow(1);
    SheetLog log;
    answerAlert(button, &log);
    // The key goes down and comes up on the table: the release is the command.
    QTest::keyPress(controller->tableView(), Qt::Key_Backspace);
    QVERIFY(log.titles.isEmpty());
    QTest::keyRelease(controller->tableView(), Qt::Key_Backspace);
    QCOMPARE(log.titles, QStringList{"Confirm Delete"});
    QCOMPARE(log.messages, QStringList{"Deleting a frame cannot be undone."});
    const QString path = userRoot() + "/Mine/Frame 1.png";
    QCOMPARE(QFileInfo::exists(path), !deleted);
    QCOMPARE(controller->tableView()->rowCount(), deleted ? 1 : 2);
    QCOMPARE(controller->selectedThumbnails().size(), deleted ? 1 : 2);
    // The thumbnail stays in the cache either way.
    QVERIFY(QFileInfo::exists(userRoot() + "/Mine/tncache/Frame 1_png.jpg"));
    if (deleted) {
        controller->tableView()->selectRow(0);
        answerAlert("Delete", nullptr);
        controller->deleteSelected();
        QCOMPARE(controller->tableView()->rowCount(), 0);
    }
}

void TestThumbnailController::deleteKeyWithoutSelection()
{
    makeUserCollection("Mine", 2);
    auto controller = makeController();
    controller->selectCollection(3);
    QCOMPARE(controller->tableView()->selectedRow(), -1);
    QSignalSpy requested(controller->tableView(), &ThumbnailTableView::deleteRequested);
    QTest::keyClick(controller->tableView(), Qt::Key_Delete);
    QCOMPARE(requested.count(), 1);
    QVERIFY(!_window->isAlertShown());
    QCOMPARE(controller->tableView()->rowCount(), 2);
}

void TestThumbnailController::dropThreeFilesOneImage()
{
    auto controller = makeController();
    controller->selectCollection(3); // My Frames
    QTemporaryDir outside;
    writeBytes(outside.filePath("notes.txt"), "text");
    writeBytes(outside.filePath("fake.png"), "not really a png");
    QVERIFY(solid(300, 200, Qt::blue).save(outside.filePath("Real Frame.png")));
    std::unique_ptr<QMimeData> mime(
        fileDrop({outside.filePath("notes.txt"), outside.filePath("fake.png"),
                  outside.filePath("Real Frame.png")}));
    QVERIFY(controller->validateDrop(mime.get(), false));
    QCOMPARE(controller->copyFiles({outside.filePath("notes.txt")}, 3), 0);
    QVERIFY(controller->acceptDrop(mime.get()));
    QCOMPARE(QDir(userRoot() + "/My Frames").entryList(QDir::Files), QStringList{"Real Frame.png"});
    QCOMPARE(controller->tableView()->rowCount(), 1);
    QCOMPARE(controller->selectedThumbnails()[0].image.size(), QSize(72, 48));
}

void TestThumbnailController::dropTextOnly()
{
    auto controller = makeController();
    controller->selectCollection(3);
    QTemporaryDir outside;
    writeBytes(outside.filePath("a.txt"), "a");
    writeBytes(outside.filePath("b.txt"), "b");
    std::unique_ptr<QMimeData> mime(
        fileDrop({outside.filePath("a.txt"), outside.filePath("b.txt")}));
    QVERIFY(!controller->acceptDrop(mime.get()));
    QVERIFY(QDir(userRoot() + "/My Frames").entryList(QDir::Files).isEmpty());
    QMimeData plain;
    plain.setText("just words");
    QVERIFY(!controller->validateDrop(&plain, false));
    QVERIFY(!controller->acceptDrop(&plain));
}

void TestThumbnailController::dropRefusedOnBuiltin()
{
    auto controller = makeController();
    controller->selectCollection(1);
    QTemporaryDir outside;
    QVERIFY(solid(30, 20, Qt::blue).save(outside.filePath("x.png")));
    std::unique_ptr<QMimeData> mime(fileDrop({outside.filePath("x.png")}));
    QVERIFY(!controller->validateDrop(mime.get(), false));
    QVERIFY(!controller->acceptDrop(mime.get()));
    QVERIFY(!QFileInfo::exists(_dir->filePath("resources/borders/Builtin B/x.png")));
    // A drag from inside the program is refused even on a user collection.
    controller->selectCollection(3);
    QVERIFY(!controller->validateDrop(mime.get(), true));
    QVERIFY(controller->validateDrop(mime.get(), false));
}

void TestThumbnailController::dropKeepsExistingName()
{
    auto controller = makeController();
    controller->selectCollection(3);
    const QString existing = userRoot() + "/My Frames/Same.png";
    QVERIFY(solid(120, 80, Qt::red).save(existing));
    controller->refreshThumbnails();
    QCOMPARE(controller->selectedCollection(), 3);
    QVERIFY(QFileInfo::exists(userRoot() + "/My Frames/tncache/Same_png.jpg"));
    // A stale cache file: the drop must make the thumbnail afresh from the kept file.
    QVERIFY(solid(72, 48, Qt::green).save(userRoot() + "/My Frames/tncache/Same_png.jpg", "JPEG"));
    const QByteArray before = [&] {
        QFile f(existing);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    QTemporaryDir outside;
    QVERIFY(solid(80, 120, Qt::blue).save(outside.filePath("Same.png")));
    std::unique_ptr<QMimeData> mime(fileDrop({outside.filePath("Same.png")}));
    QVERIFY(controller->acceptDrop(mime.get()));
    QFile after(existing);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), before);
    QCOMPARE(controller->selectedThumbnails().size(), 1);
    const QImage thumb = controller->selectedThumbnails()[0].image;
    QCOMPARE(thumb.size(), QSize(72, 48));
    QVERIFY(qRed(thumb.pixel(36, 24)) > 200 && qGreen(thumb.pixel(36, 24)) < 60);
}

void TestThumbnailController::dropEventsFromOutsideOnly()
{
    auto controller = makeController();
    controller->selectCollection(3);
    QTemporaryDir outside;
    QVERIFY(solid(30, 20, Qt::blue).save(outside.filePath("Evented.png")));
    std::unique_ptr<QMimeData> mime(fileDrop({outside.filePath("Evented.png")}));
    QWidget* viewport = controller->tableView()->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QVERIFY(enter.isAccepted());
    QCOMPARE(enter.dropAction(), Qt::CopyAction);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    QVERIFY(drop.isAccepted());
    QVERIFY(QFileInfo::exists(userRoot() + "/My Frames/Evented.png"));
    QCOMPARE(controller->tableView()->rowCount(), 1);

    controller->selectCollection(0);
    QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, mime.get(), Qt::LeftButton,
                            Qt::NoModifier);
    QApplication::sendEvent(viewport, &refused);
    QVERIFY(!refused.isAccepted());
}

void TestThumbnailController::refreshShowsNewFrames()
{
    auto controller = makeController();
    controller->selectCollection(3);
    QCOMPARE(controller->tableView()->rowCount(), 0);
    const QString path = userRoot() + "/My Frames/Later.png";
    QVERIFY(solid(120, 80, Qt::red).save(path));
    controller->refreshThumbnails();
    QCOMPARE(controller->tableView()->rowCount(), 1);
    // The same name replaced on disk keeps its cached thumbnail until the cache goes.
    QVERIFY(solid(120, 80, Qt::blue).save(path));
    controller->refreshThumbnails();
    QVERIFY(qRed(controller->selectedThumbnails()[0].image.pixel(36, 24)) > 200);
    QVERIFY(QDir(userRoot() + "/My Frames/tncache").removeRecursively());
    controller->refreshAction()->trigger();
    QVERIFY(qBlue(controller->selectedThumbnails()[0].image.pixel(36, 24)) > 200);
    QVERIFY(qRed(controller->selectedThumbnails()[0].image.pixel(36, 24)) < 60);
}

void TestThumbnailController::revealUserFolder()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    auto controller = makeController();
    controller->revealUserFolderAction()->trigger();
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(userRoot())});
}

void TestThumbnailController::noBuiltinCollections()
{
    QVERIFY(QDir(_dir->filePath("resources/borders")).removeRecursively());
    makeUserCollection("Only", 1);
    _defaults->setInteger(0, DefSelectedCollection);
    auto controller = makeController(); // items: | Only My Frames | commands
    QCOMPARE(controller->builtinCount(), 0);
    QCOMPARE(controller->selectedCollection(), 1);
    QCOMPARE(controller->currentCollectionName(), QString("My Frames"));
    QCOMPARE(controller->tableView()->rowCount(), 0);
    controller->selectCollection(2);
    QCOMPARE(controller->currentCollectionName(), QString("Only"));
    QCOMPARE(controller->tableView()->rowCount(), 1);
}

void TestThumbnailController::userFolderIsAFile()
{
    writeBytes(userRoot(), "a file where the folder should be");
    auto controller = makeController();
    QCOMPARE(controller->userCount(), 0);
    QCOMPARE(controller->collectionPopUp()->count(), 2 + 5);
    SheetLog log;
    answerAlert("Okay", &log);
    controller->selectCollection(4); // Create Frame Set
    QCOMPARE(log.titles, QStringList{"Frame Set Not Created"});
    QCOMPARE(controller->selectedCollection(), 0);
    QVERIFY(QFileInfo(userRoot()).isFile());
}

void TestThumbnailController::download_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("savedName"); // empty: nothing saved
    QTest::newRow("frame") << "/frames/Gold.png"
                           << "Gold.png";
    QTest::newRow("no extension gets one") << "/frames/gold"
                                           << "gold.png";
    QTest::newRow("empty last component") << "/frames/"
                                          << "Downloaded Frame.png";
    QTest::newRow("parent reference") << "/a/%2E%2E"
                                      << "Downloaded Frame.png";
    QTest::newRow("hidden") << "/.profile"
                            << "Downloaded Frame.png";
    QTest::newRow("too big") << "/big.png"
                             << "";
    QTest::newRow("too big, no length") << "/stream.png"
                                        << "";
    QTest::newRow("cut short") << "/trunc.png"
                               << "";
    QTest::newRow("not an image") << "/text.png"
                                  << "";
    QTest::newRow("not found") << "/missing.png"
                               << "";
}

void TestThumbnailController::download()
{
    QFETCH(QString, path);
    QFETCH(QString, savedName);
    FrameServer server;
    auto controller = makeController();
    controller->downloader()->setLimits(server.png.size() + 1000, 10000);
    controller->selectCollection(3);
    QMimeData mime;
    mime.setUrls({server.url(path)});
    QVERIFY(controller->validateDrop(&mime, false));
    QSignalSpy finished(controller->downloader(), &FrameDownloader::downloadFinished);
    QVERIFY(controller->acceptDrop(&mime));
    QVERIFY(finished.wait(15000));
    const QString folder = userRoot() + "/My Frames";
    QCOMPARE(finished.at(0).at(0).toString(), folder);
    const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    if (savedName.isEmpty()) {
        QCOMPARE(finished.at(0).at(1).toString(), QString());
        QVERIFY2(files.isEmpty(), qPrintable(files.join(", ")));
        QCOMPARE(controller->tableView()->rowCount(), 0);
    } else {
        QCOMPARE(finished.at(0).at(1).toString(), folder + "/" + savedName);
        QCOMPARE(files, QStringList{savedName});
        QCOMPARE(controller->tableView()->rowCount(), 1);
        QCOMPARE(controller->selectedThumbnails()[0].path, folder + "/" + savedName);
    }
    // Nothing was written outside the collection.
    QCOMPARE(QDir(userRoot()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"My Frames"});
}

void TestThumbnailController::downloadNeverOverwrites()
{
    FrameServer server;
    auto controller = makeController();
    controller->selectCollection(3);
    const QString folder = userRoot() + "/My Frames";
    QVERIFY(solid(10, 10, Qt::green).save(folder + "/Gold.png"));
    QSignalSpy finished(controller->downloader(), &FrameDownloader::downloadFinished);
    QVERIFY(controller->copyURL(server.url("/Gold.png"), 3) == 1);
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.at(0).at(1).toString(), folder + "/Gold-1.png");
    QCOMPARE(QImage(folder + "/Gold.png").size(), QSize(10, 10));
    QCOMPARE(QImage(folder + "/Gold-1.png").size(), QSize(60, 40));
    QCOMPARE(controller->tableView()->rowCount(), 2);
    // Not an http(s) URL: nothing starts.
    QCOMPARE(controller->copyURL(QUrl("ftp://example.org/x.png"), 3), 0);
    QCOMPARE(controller->copyURL(QUrl("file:///etc/passwd"), 3), 0);
}

void TestThumbnailController::downloadTimesOut()
{
    FrameServer server;
    auto controller = makeController();
    controller->downloader()->setLimits(1 << 20, 300);
    controller->selectCollection(3);
    QSignalSpy finished(controller->downloader(), &FrameDownloader::downloadFinished);
    QCOMPARE(controller->copyURL(server.url("/slow.png"), 3), 1);
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.at(0).at(1).toString(), QString());
    QVERIFY(QDir(userRoot() + "/My Frames").entryList(QDir::Files | QDir::Hidden).isEmpty());
    QCOMPARE(controller->downloader()->activeDownloads(), 0);
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

void TestThumbnailController::wheelDoesNotRunCommands()
{
    auto controller = makeController();
    controller->selectCollection(3);
    QComboBox* pop = controller->collectionPopUp();
    bool sheetShown = false;
    whenModal([&sheetShown](QWidget* modal) {
        sheetShown = true;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    });
    for (int i = 0; i < 10; ++i) {
        QWheelEvent wheel(QPointF(5, 5), pop->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(pop, &wheel);
    }
    QCOMPARE(pop->currentIndex(), 3);
    QVERIFY(!sheetShown);
}

void TestThumbnailController::userOrderFileKeptInStep()
{
    makeUserCollection("Zeta", 1);
    QVERIFY(PropertyList::toFile(QVariantList{QString("Zeta"), QString("My Frames")},
                                 userRoot() + "/collections.plist"));
    {
        auto controller = makeController(); // | Zeta(3) My Frames(4) |
        QCOMPARE(controller->collectionPopUp()->itemText(3), QString("Zeta"));
        answerNameSheet("Fresh", true);
        controller->selectCollection(6);
        QCOMPARE(controller->currentCollectionName(), QString("Fresh"));
        answerNameSheet("Renamed", true);
        controller->selectCollection(2 + 3 + 4);
        QCOMPARE(controller->currentCollectionName(), QString("Renamed"));
        controller->selectCollection(3);
        answerAlert("Remove", nullptr);
        controller->selectCollection(2 + 3 + 3);
        QCOMPARE(controller->userCount(), 2);
    }
    // The next start shows what the last one left.
    auto controller = makeController();
    QCOMPARE(controller->userCount(), 2);
    QCOMPARE(controller->collectionPopUp()->itemText(3), QString("My Frames"));
    QCOMPARE(controller->collectionPopUp()->itemText(4), QString("Renamed"));
}

void TestThumbnailController::thumbnailsDrawnCentred()
{
    auto controller = makeController(); // Builtin A: Tall (32x48 white), Wide (72x48 white)
    ThumbnailTableView* table = controller->tableView();
    table->resize(200, 300);
    QApplication::processEvents();
    const QImage shot = table->viewport()->grab().toImage();
    const QRect row0 = table->visualRect(table->model()->index(0, 0));
    const QRect row1 = table->visualRect(table->model()->index(1, 0));
    const QPoint c0 = row0.center(), c1 = row1.center();
    QCOMPARE(QColor(shot.pixel(c0)), QColor(Qt::white));
    QCOMPARE(QColor(shot.pixel(c1)), QColor(Qt::white));
    // Just outside the 32-pixel thumbnail, still inside the 72-pixel one: the gray ground.
    QCOMPARE(QColor(shot.pixel(c0 + QPoint(20, 0))), QColor(92, 92, 92));
    QCOMPARE(QColor(shot.pixel(c1 + QPoint(20, 0))), QColor(Qt::white));
    QCOMPARE(QColor(shot.pixel(c1 + QPoint(40, 0))), QColor(92, 92, 92));
}

QTEST_MAIN(TestThumbnailController)
#include "test_thumbnail_controller.moc"
