#include "HostileInputs.h"
#include "browser/BrowserWorkflow.h"
#include "browser/PhotoBrowserWindow.h"
#include "browser/PhotoGridModel.h"

#include <QLabel>
#include <QListView>
#include <QPixmap>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

namespace {

QStringList shownNames(const PhotoGridModel& model)
{
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row)
        names << model.index(row).data().toString();
    return names;
}

// Asks for every thumbnail, as a view showing the whole grid would, and waits for them.
bool settle(PhotoGridModel& model)
{
    for (int row = 0; row < model.rowCount(); ++row)
        model.index(row).data(Qt::DecorationRole);
    return QTest::qWaitFor([&model] { return model.pendingThumbnails() == 0; }, 20000);
}

} // namespace

class TestPhotoBrowser : public QObject {
    Q_OBJECT
private slots:
    void workflow_data();
    void workflow();
    void gridShowsFoldersThenPhotos();
    void hostilePicturesLeaveTheGrid();
    void pickHandsThePhotoOver();

private:
    QString path(const QString& name) const { return _dir.filePath(name); }
    QTemporaryDir _dir;
};

void TestPhotoBrowser::workflow_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("application");
    QTest::newRow("as written") << QByteArray("# note\nWindowTitle=Velluma - Photo Browser\n"
                                              "Application=/usr/bin/velluma\n")
                                << QString("Velluma - Photo Browser")
                                << QString("/usr/bin/velluma");
    QTest::newRow("CRLF, = and spaces in values")
        << QByteArray("Application=/opt/a=b/my velluma\r\nWindowTitle= Photos \r\n")
        << QString(" Photos ") << QString("/opt/a=b/my velluma");
    QTest::newRow("unknown keys and junk")
        << QByteArray("Later=1\n=x\nnothing\nWindowTitle=T\n") << "T" << QString();
    QTest::newRow("UTF-8") << QByteArray("WindowTitle=Fotos \xc3\xa4\n") << "Fotos \u00e4"
                           << QString();
    QTest::newRow("empty") << QByteArray() << QString() << QString();
}

void TestPhotoBrowser::workflow()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, title);
    QFETCH(QString, application);
    const BrowserWorkflow workflow = BrowserWorkflow::parse(text);
    QCOMPARE(workflow.windowTitle, title);
    QCOMPARE(workflow.application, application);
}

void TestPhotoBrowser::gridShowsFoldersThenPhotos()
{
    const QString folder = path(QStringLiteral("grid"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/Trips")));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/.hidden")));
    QVERIFY(solid(400, 200, QColor(200, 30, 30)).save(folder + "/b.JPG", "JPEG", 95));
    QVERIFY(!writePhoto(folder + "/a.png", QSize(30, 90)).isEmpty());
    QVERIFY(writeFile(folder + QStringLiteral("/notes.txt"), "not a photo"));
    QVERIFY(writeFile(folder + QStringLiteral("/icon.svg"), "<svg/>"));

    PhotoGridModel model;
    QVERIFY(model.setFolder(folder));
    QCOMPARE(shownNames(model), (QStringList{"Trips", "a.png", "b.JPG"}));
    QVERIFY(model.index(0).data(PhotoGridModel::IsFolderRole).toBool());
    QVERIFY(settle(model));
    // Within the thumbnail size, the proportions kept, a small photo not blown up; in the
    // grid each in the middle of a square cell.
    QCOMPARE(PhotoGridModel::makeThumbnail(folder + QStringLiteral("/b.JPG")).size(),
             QSize(128, 64));
    QCOMPARE(PhotoGridModel::makeThumbnail(folder + QStringLiteral("/a.png")).size(),
             QSize(30, 90));
    const QImage cell = model.index(2).data(Qt::DecorationRole).value<QPixmap>().toImage();
    QCOMPARE(cell.size(), QSize(128, 128));
    QVERIFY(QColor(cell.pixel(64, 64)).red() > 180);
    QCOMPARE(qAlpha(cell.pixel(64, 10)), 0);
    QCOMPARE(qAlpha(cell.pixel(64, 40)), 255);

    QString error;
    QVERIFY(!model.setFolder(path(QStringLiteral("missing")), &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(model.folder(), QDir(folder).absolutePath());
}

void TestPhotoBrowser::hostilePicturesLeaveTheGrid()
{
    const QString folder = path(QStringLiteral("hostile"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(!writePhoto(folder + "/good.png").isEmpty());
    QStringList made;
    for (const Hostile kind : hostilePictures()) {
        const QString name = QStringLiteral("%1.jpg").arg(QString::fromLatin1(hostileName(kind)));
        if (makeHostile(kind, folder + QLatin1Char('/') + name))
            made << name;
    }
    QVERIFY(made.size() >= 10);
    // A reader stuck on the pipe would hold the grid up; the watch would free it.
    FifoWatch fifo(folder + QStringLiteral("/FIFO.jpg"));

    PhotoGridModel model;
    QSignalSpy skipped(&model, &PhotoGridModel::photoSkipped);
    QVERIFY(model.setFolder(folder));
    QVERIFY(settle(model));
    QVERIFY(!fifo.wasOpened());
    const QStringList shown = shownNames(model);
    QVERIFY(shown.contains(QStringLiteral("good.png")));
    // The folder named like a photo is a folder; a good picture with broken EXIF and the
    // part of a cut-off JPEG that decodes may stay.
    for (const QString& name : made) {
        if (name.startsWith(QLatin1String("directory")) ||
            name.startsWith(QLatin1String("broken EXIF")) ||
            name.startsWith(QLatin1String("truncated JPEG")))
            continue;
        QVERIFY2(!shown.contains(name), qPrintable(name));
    }
    QVERIFY(skipped.size() >= 6);
}

void TestPhotoBrowser::pickHandsThePhotoOver()
{
    const QString pictures = path(QStringLiteral("Pictures"));
    const QString holiday = pictures + QStringLiteral("/<b>Holiday<");
    QVERIFY(QDir().mkpath(holiday));
    QImage photo(60, 40, QImage::Format_RGB32);
    photo.fill(Qt::yellow);
    // Named like an option, and with a byte that is no UTF-8: handed over as it is.
    const QByteArray picked = QFile::encodeName(holiday) + "/-h beach\xe9.jpg";
    QVERIFY(photo.save(holiday + QStringLiteral("/photo.jpg"), "JPEG"));
    QVERIFY(::rename(QFile::encodeName(holiday + QStringLiteral("/photo.jpg")), picked) == 0);
    // Stands for Velluma: writes down what it was started with.
    const QString program = path(QStringLiteral("velluma"));
    const QString record = path(QStringLiteral("arguments"));
    QVERIFY(writeFile(program, QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1.part' && "
                                              "mv '%1.part' '%1'\n")
                                   .arg(record)
                                   .toUtf8()));
    QVERIFY(QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    PhotoBrowserWindow window({QStringLiteral("Velluma - Photo Browser"), program}, pictures);
    QCOMPARE(window.windowTitle(), QStringLiteral("Velluma - Photo Browser"));
    window.show();
    QListView* view = window.view();
    // Enter on the folder goes into it, Enter on the photo hands it over.
    view->setFocus();
    QCOMPARE(view->currentIndex().data().toString(), QStringLiteral("<b>Holiday<"));
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(window.model()->folder(), holiday);
    // The folder's name is shown as it is, not as markup.
    for (const QLabel* label : window.findChildren<QLabel*>())
        QVERIFY(!label->text().endsWith(QLatin1String("Holiday<")) ||
                label->textFormat() == Qt::PlainText);
    QCOMPARE(view->currentIndex().data().toString(),
             QFile::decodeName(picked.mid(picked.lastIndexOf('/') + 1)));
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(record), 10000);
    QCOMPARE(readAll(record), "--\n" + picked + "\n");

    window.goUp();
    QCOMPARE(window.model()->folder(), pictures);
    QCOMPARE(view->currentIndex().data().toString(), QStringLiteral("<b>Holiday<"));
}

QTEST_MAIN(TestPhotoBrowser)
#include "test_photobrowser.moc"
