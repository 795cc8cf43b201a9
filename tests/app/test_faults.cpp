#include "TestSupport.h"
#include "app/AppController.h"
#include "app/OutputController.h"
#include "compositing/Document.h"
#include "foundation/UserDefaults.h"
#include "frames/FrameLibrary.h"
#include "output/FileFormat.h"
#include "output/TestFiles.h"
#include "output/TmpFilePath.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/stat.h>

// The system failing under a save: a disk that fills, a folder that cannot be written, a
// file gone between listing and reading, a temporary folder someone else put in place.
// Nothing already on disk is lost or changed, nothing half-written is left, and the user is
// told why in the system's words.

namespace {

// Prepares `folder` to refuse new files once finishReadOnly is called (after the old output
// is in place); empty when it can, else why not. Root writes into any folder whatever its
// permissions, so for root the folder becomes a mount made read-only.
QString prepareReadOnly(const QString& folder)
{
    if (::geteuid() != 0)
        return QString();
    if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=1m") != 0)
        return QStringLiteral("tmpfs could not be mounted: ") +
               QString::fromLocal8Bit(std::strerror(errno));
    return QString();
}

bool finishReadOnly(const QString& folder)
{
    const QByteArray native = QFile::encodeName(folder);
    if (::geteuid() != 0)
        return ::chmod(native.constData(), 0555) == 0;
    return ::mount(nullptr, native.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        _dir = std::make_unique<QTemporaryDir>();
        QVERIFY(_dir->isValid());
    }
    void saveFails_data()
    {
        // The window (a PNG or TIFF goes to the disk as it is encoded) or the batch framer.
        QTest::addColumn<QString>("writer");
        QTest::addColumn<QString>("fault");
        for (const char* writer : {"window", "window, PNG", "window, TIFF", "batch framer"})
            for (const char* fault : {"disk full", "read-only folder"})
                QTest::addRow("%s, %s", writer, fault) << QString(writer) << QString(fault);
    }
    void saveFails()
    {
        QFETCH(QString, writer);
        QFETCH(QString, fault);
        const QString out = path(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));
        const QString why = fault == "disk full" ? mountFullDisk(out) : prepareReadOnly(out);
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        const auto unmount = qScopeGuard([&] {
            if (fault == "disk full" || ::geteuid() == 0)
                unmountFolder(out);
            else
                ::chmod(QFile::encodeName(out).constData(), 0755);
        });
        // The old output, small enough for the full disk; the new one, noise, is not.
        const QString old = out + QStringLiteral("/noise.jpg");
        const QByteArray before("old output");
        QVERIFY(writeFile(old, before));
        if (fault != "disk full")
            QVERIFY(finishReadOnly(out));
        const QString photo = path(QStringLiteral("noise.png"));
        QVERIFY(noisePhoto(300, 300).save(photo));
        const QString reason = QString::fromLocal8Bit(
            std::strerror(fault == "disk full" ? ENOSPC : (::geteuid() == 0 ? EROFS : EACCES)));

        QString error;
        if (writer.startsWith(QStringLiteral("window"))) {
            UserDefaults defaults(path(QStringLiteral("prefs.plist")));
            AppController app(defaults);
            QVERIFY(app.applicationOpenFile(photo));
            const FileFormat format = writer == "window"        ? FileFormat::Jpeg
                                      : writer == "window, PNG" ? FileFormat::Png
                                                                : FileFormat::Tiff;
            QVERIFY(app.output()->writeImageToFile(old, format, 95, &error).isEmpty());
            // The window still holds the photo; a save elsewhere works.
            QVERIFY(
                !app.output()
                     ->writeImageToFile(path(QStringLiteral("elsewhere.jpg")), FileFormat::Jpeg, 95)
                     .isEmpty());
        } else {
            QProcess framer;
            framer.start(QStringLiteral(VELLUMA_FRAME_BINARY),
                         {QStringLiteral("-o"), out, QStringLiteral("--force"), photo});
            QVERIFY(framer.waitForFinished(60000));
            QCOMPARE(framer.exitCode(), 1);
            error = QString::fromLocal8Bit(framer.readAllStandardError());
        }
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(entries(out), QStringList{QStringLiteral("noise.jpg")});
        QCOMPARE(readAll(old), before);
    }
    void frameGoneAfterListing()
    {
        // The collection was listed while the frame was there; the user removed it in the file
        // manager before choosing it.
        const QString collection = path(QStringLiteral("My Frames"));
        QVERIFY(QDir().mkpath(collection));
        const QString frame = collection + QStringLiteral("/Gone.png");
        QVERIFY(gradientPhoto(80, 60).save(frame));
        QVERIFY(gradientPhoto(80, 60).save(FrameLibrary::postMaskPathFor(frame)));
        const ThumbnailList listed = FrameLibrary::collectionForFolder(collection);
        QCOMPARE(listed.size(), 1);
        QVERIFY(QFile::remove(frame));

        FrameLibrary::LoadedFrame loaded;
        QString error;
        QVERIFY(!FrameLibrary::loadFrame(listed.first().path, false, &loaded, &error));
        QVERIFY2(error.contains(QStringLiteral("Gone.png")), qPrintable(error));

        UserDefaults defaults(path(QStringLiteral("prefs.plist")));
        AppController app(defaults);
        const QString photo = writePhoto(path(QStringLiteral("photo.png")));
        QVERIFY(app.applicationOpenFile(photo));
        app.setBorderPath(listed.first().path);
        QVERIFY(app.document()->framedPhoto().frame.isNull());
        QVERIFY(!app.output()
                     ->writeImageToFile(path(QStringLiteral("framed.png")), FileFormat::Png, 90)
                     .isEmpty());

        // The batch framer says so before it starts.
        QProcess framer;
        framer.start(QStringLiteral(VELLUMA_FRAME_BINARY),
                     {QStringLiteral("-f"), listed.first().path, QStringLiteral("-o"),
                      path(QStringLiteral("out")), photo});
        QVERIFY(framer.waitForFinished(60000));
        QVERIFY(framer.exitCode() != 0);
        QVERIFY(QString::fromLocal8Bit(framer.readAllStandardError()).contains("Gone.png"));
        QVERIFY(entries(path(QStringLiteral("out"))).isEmpty());
    }
    void plantedTemporaryFolder_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("symlink to a folder") << QStringLiteral("symlink");
        QTest::newRow("another user's folder") << QStringLiteral("foreign");
        QTest::newRow("our folder, open to others") << QStringLiteral("open");
    }
    void plantedTemporaryFolder()
    {
        // Someone put a thing where the window's copy makes its temporary folder, before the
        // window needed it.
        QFETCH(QString, kind);
        const QString planted = TmpFilePath::processFolderPath();
        const QByteArray plantedName = QFile::encodeName(planted);
        QTemporaryDir target;
        QVERIFY(target.isValid());
        const auto cleanup = qScopeGuard([&] {
            TmpFilePath::removeTmpFiles();
            QFile::remove(planted);
            QDir(planted).removeRecursively();
        });
        if (kind == "symlink") {
            QVERIFY(QFile::link(target.path(), planted));
        } else {
            if (kind == "foreign" && ::geteuid() != 0)
                QSKIP("only root can make a folder that belongs to someone else");
            QVERIFY(QDir().mkdir(planted));
            QVERIFY(::chmod(plantedName.constData(), 0777) == 0);
            if (kind == "foreign")
                QVERIFY(::chown(plantedName.constData(), 65534, 65534) == 0);
        }

        UserDefaults defaults(path(QStringLiteral("prefs.plist")));
        AppController app(defaults);
        QVERIFY(app.applicationOpenFile(writePhoto(path(QStringLiteral("Beach.png")))));
        app.output()->copy();
        const QList<QUrl> urls = QGuiApplication::clipboard()->mimeData()->urls();
        QCOMPARE(urls.size(), 1);
        const QString copied = urls.first().toLocalFile();
        QCOMPARE(QImage(copied).size(), QSize(60, 40));
        const QString folder = QFileInfo(copied).absolutePath();
        QVERIFY2(folder.startsWith(planted + QLatin1Char('-')), qPrintable(folder));
        QVERIFY(TmpFilePath::isPrivateFolder(folder));
        // Nothing reached the planted thing or what it points to, and it is still there.
        QCOMPARE(entries(target.path()), QStringList());
        if (kind != "symlink")
            QCOMPARE(entries(planted), QStringList());
        TmpFilePath::removeTmpFiles();
        QVERIFY(!QFileInfo::exists(folder));
        QCOMPARE(QFileInfo(planted).isSymLink(), kind == "symlink");
        QVERIFY(QFileInfo(target.path()).isDir());
    }

private:
    std::unique_ptr<QTemporaryDir> _dir;
    QString path(const QString& name) const { return _dir->filePath(name); }
};

QTEST_MAIN(TestFaults)
#include "test_faults.moc"
