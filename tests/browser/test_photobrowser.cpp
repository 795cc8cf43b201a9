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

// Asks for every thumbnail, as a view showing the whole grid would, and waits for them; the
// names shown.
QStringList settle(PhotoGridModel& model)
{
    for (int row = 0; row < model.rowCount(); ++row)
        model.index(row).data(Qt::DecorationRole);
    if (!QTest::qWaitFor([&model] { return model.pendingThumbnails() == 0; }, 20000))
        return {"thumbnails still pending"};
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row)
        names << model.index(row).data().toString();
    return names;
}

} // namespace

class TestPhotoBrowser : public QObject {
    Q_OBJECT
    QTemporaryDir _dir;

private slots:
    void workflow_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("parsed"); // the window title and the application
        QTest::newRow("as written") << QByteArray("# note\nWindowTitle=Velluma - Photo Browser\n"
                                                  "Application=/usr/bin/velluma\n")
                                    << QStringList{"Velluma - Photo Browser", "/usr/bin/velluma"};
        QTest::newRow("CRLF, = and spaces in values")
            << QByteArray("Application=/opt/a=b/my velluma\r\nWindowTitle= Photos \r\n")
            << QStringList{" Photos ", "/opt/a=b/my velluma"};
        QTest::newRow("unknown keys and junk")
            << QByteArray("Later=1\n=x\nnothing\nWindowTitle=T\n") << QStringList{"T", ""};
    }
    void workflow()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, parsed);
        const BrowserWorkflow workflow = BrowserWorkflow::parse(text);
        QCOMPARE((QStringList{workflow.windowTitle, workflow.application}), parsed);
    }

    void gridShowsFoldersThenPhotos()
    {
        const QString folder = _dir.filePath("grid");
        QVERIFY(QDir().mkpath(folder + "/Trips") && QDir().mkpath(folder + "/.hidden"));
        QVERIFY(solid(400, 200, QColor(200, 30, 30)).save(folder + "/b.JPG", "JPEG", 95));
        QVERIFY(!writePhoto(folder + "/a.png", QSize(30, 90)).isEmpty());
        QVERIFY(writeFile(folder + "/notes.txt", "not a photo"));
        QVERIFY(writeFile(folder + "/icon.svg", "<svg/>"));
        PhotoGridModel model;
        QVERIFY(model.setFolder(folder));
        QCOMPARE(settle(model), (QStringList{"Trips", "a.png", "b.JPG"}));
        // In the middle of a square cell, the proportions kept.
        const QImage cell = model.index(2).data(Qt::DecorationRole).value<QPixmap>().toImage();
        QVERIFY(qAlpha(cell.pixel(64, 10)) == 0 && QColor(cell.pixel(64, 40)).red() > 180);
        QString error;
        QVERIFY(!model.setFolder(_dir.filePath("missing"), &error) && !error.isEmpty());
        QCOMPARE(model.folder(), QDir(folder).absolutePath());
    }

    void hostilePicturesLeaveTheGrid()
    {
        const QString folder = _dir.filePath("hostile");
        QVERIFY(QDir().mkpath(folder) && !writePhoto(folder + "/good.png").isEmpty());
        QStringList made;
        for (const Hostile kind : hostilePictures()) {
            const QString name = QString::fromLatin1(hostileName(kind)) + ".jpg";
            if (makeHostile(kind, folder + '/' + name))
                made << name;
        }
        QVERIFY(made.size() >= 10);
        // A reader stuck on the pipe would hold the grid up; the watch would free it.
        FifoWatch fifo(folder + "/FIFO.jpg");
        PhotoGridModel model;
        QSignalSpy skipped(&model, &PhotoGridModel::photoSkipped);
        QVERIFY(model.setFolder(folder));
        const QStringList shown = settle(model);
        QVERIFY(!fifo.wasOpened());
        QVERIFY(shown.contains("good.png"));
        // The folder named like a photo is a folder; a good picture with broken EXIF and the
        // part of a cut-off JPEG that decodes may stay.
        for (const QString& name : made) {
            if (!name.startsWith("directory") && !name.startsWith("broken EXIF") &&
                !name.startsWith("truncated JPEG"))
                QVERIFY2(!shown.contains(name), qPrintable(name));
        }
        QVERIFY(skipped.size() >= 6);
    }

    void pickHandsThePhotoOver()
    {
        const QString pictures = _dir.filePath("Pictures");
        const QString holiday = pictures + "/<b>Holiday<";
        // Named like an option, and with a byte that is no UTF-8: handed over as it is.
        const QByteArray picked = QFile::encodeName(holiday) + "/-h beach\xe9.jpg";
        QVERIFY(QDir().mkpath(holiday) && writePhoto(holiday + "/photo.jpg") != QString());
        QVERIFY(::rename(QFile::encodeName(holiday + "/photo.jpg"), picked) == 0);
        // Stands for Velluma: writes down what it was started with.
        const QString program = _dir.filePath("velluma"), record = _dir.filePath("arguments");
        QVERIFY(writeFile(program, QString("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1.part' && "
                                           "mv '%1.part' '%1'\n")
                                       .arg(record)
                                       .toUtf8()));
        QVERIFY(QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::ExeOwner));

        PhotoBrowserWindow window({"Velluma - Photo Browser", program}, pictures);
        QCOMPARE(window.windowTitle(), QString("Velluma - Photo Browser"));
        window.show();
        QListView* view = window.view();
        // Enter on the folder goes into it, Enter on the photo hands it over.
        view->setFocus();
        QCOMPARE(view->currentIndex().data().toString(), QString("<b>Holiday<"));
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(window.model()->folder(), holiday);
        // The folder's name is shown as it is, not as markup.
        for (const QLabel* label : window.findChildren<QLabel*>())
            QVERIFY(!label->text().endsWith("Holiday<") || label->textFormat() == Qt::PlainText);
        QCOMPARE(view->currentIndex().data().toString(),
                 QFile::decodeName(picked.mid(picked.lastIndexOf('/') + 1)));
        QTest::keyClick(view, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(record), 10000);
        QCOMPARE(readAll(record), "--\n" + picked + "\n");
    }
};

QTEST_MAIN(TestPhotoBrowser)
#include "test_photobrowser.moc"
