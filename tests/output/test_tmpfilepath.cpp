#include "output/TmpFilePath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t modeOf(const QString& path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QString folderOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

} // namespace

class TestTmpFilePath : public QObject {
    Q_OBJECT

private:
    QTemporaryDir _tmp;
    QString _pid;

private slots:
    void initTestCase()
    {
        QVERIFY(_tmp.isValid());
        // Every temporary folder of this run goes below a folder of its own.
        qputenv("TMPDIR", QFile::encodeName(_tmp.path()));
        QCoreApplication::setApplicationName(QStringLiteral("Velluma"));
        _pid = QString::number(QCoreApplication::applicationPid());
    }

    void cleanup()
    {
        TmpFilePath::removeTmpFiles();
        const QString planted = TmpFilePath::processFolderPath();
        QFileInfo info(planted);
        if (info.isSymLink() || info.isFile())
            QFile::remove(planted);
        else if (info.isDir()) {
            ::chmod(QFile::encodeName(planted).constData(), 0700);
            QDir(planted).removeRecursively();
        }
    }

    void extension_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("extension");
        QTest::newRow("jpeg") << 101 << "jpg";
        QTest::newRow("png") << 102 << "png";
        QTest::newRow("tiff") << 103 << "tiff";
        QTest::newRow("gif is no output format") << 104 << "";
        QTest::newRow("zero") << 0 << "";
        QTest::newRow("negative") << -101 << "";
    }

    void extension()
    {
        QFETCH(int, format);
        QFETCH(QString, extension);
        QCOMPARE(TmpFilePath::fileExtensionForFormat(format), extension);
    }

    void processFolderIsNamedAfterProcessAndPid()
    {
        QCOMPARE(TmpFilePath::processFolderPath(), _tmp.path() + "/Velluma" + _pid);
    }

    void bareNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("jpeg") << "Beach" << 101 << "Beach.jpg";
        QTest::newRow("tiff") << "Beach" << 103 << "Beach.tiff";
        QTest::newRow("png") << "Beach" << 102 << "Beach.png";
        QTest::newRow("unknown code ends in a dot") << "Beach" << 77 << "Beach.";
        QTest::newRow("name with extension") << "Beach.jpg" << 102 << "Beach.jpg.png";
        QTest::newRow("spaces") << "My Beach" << 101 << "My Beach.jpg";
        QTest::newRow("slash stays inside") << "a/b" << 101 << "a_b.jpg";
        QTest::newRow("no climbing out") << "../../etc/x" << 101 << ".._.._etc_x.jpg";
    }

    void bareNames()
    {
        QFETCH(QString, name);
        QFETCH(int, format);
        QFETCH(QString, fileName);
        const QString path = TmpFilePath::tmpPathForFormat(name, format);
        QCOMPARE(path, TmpFilePath::processFolderPath() + "/" + fileName);
        QVERIFY(QFileInfo(TmpFilePath::processFolderPath()).isDir());
    }

    void absoluteNamesUnchanged_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("jpeg") << 101;
        QTest::newRow("png") << 102;
        QTest::newRow("tiff") << 103;
        QTest::newRow("unknown") << 5;
    }

    void absoluteNamesUnchanged()
    {
        QFETCH(int, format);
        const QString name = QStringLiteral("/home/x/Desktop/Beach.jpg");
        QCOMPARE(TmpFilePath::tmpPathForFormat(name, format), name);
        // An absolute name needs no temporary folder.
        QVERIFY(!QFileInfo::exists(TmpFilePath::processFolderPath()));
    }

    void folderIsPrivate()
    {
        const mode_t oldMask = ::umask(0);
        const QString path = TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), 101);
        ::umask(oldMask);
        const QString folder = folderOf(path);
        QCOMPARE(folder, TmpFilePath::processFolderPath());
        QCOMPARE(modeOf(folder), mode_t(0700));
        QVERIFY(TmpFilePath::isPrivateFolder(folder));
    }

    void samePathTwiceCreatesOnce()
    {
        const QString a = TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), 101);
        QVERIFY(writeFile(a, "first"));
        const QString b = TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), 101);
        QCOMPARE(a, b);
        // The folder was not made anew: the file in it is still there.
        QFile f(a);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("first"));
    }

    void ownFolderLeftBehindIsReused()
    {
        const QString folder = TmpFilePath::processFolderPath();
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0700) == 0);
        QCOMPARE(folderOf(TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), 101)), folder);
    }

    void removedFolderIsMadeAgain()
    {
        const QString path = TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), 101);
        QVERIFY(QDir(folderOf(path)).removeRecursively());
        QCOMPARE(TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), 101), path);
        QVERIFY(TmpFilePath::isPrivateFolder(folderOf(path)));
    }

    void removeTmpFiles()
    {
        const QString path = TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), 102);
        QVERIFY(writeFile(path, "x"));
        QVERIFY(QDir().mkdir(folderOf(path) + "/sub"));
        TmpFilePath::removeTmpFiles();
        QVERIFY(!QFileInfo::exists(TmpFilePath::processFolderPath()));
        // Removing again, with nothing there, is harmless.
        TmpFilePath::removeTmpFiles();
        // The next temporary path makes the folder again.
        QCOMPARE(TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), 102), path);
        QVERIFY(QFileInfo(folderOf(path)).isDir());
    }

    void removeTmpFilesFollowsNoLinkInside()
    {
        QTemporaryDir outside;
        QVERIFY(writeFile(outside.path() + "/keep.txt", "keep"));
        const QString path = TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), 101);
        QVERIFY(QFile::link(outside.path(), folderOf(path) + "/link"));
        TmpFilePath::removeTmpFiles();
        QVERIFY(!QFileInfo::exists(TmpFilePath::processFolderPath()));
        QVERIFY(QFileInfo::exists(outside.path() + "/keep.txt"));
    }

    void missingTmpDirFallsBackToTmp()
    {
        qputenv("TMPDIR", QFile::encodeName(_tmp.path() + "/missing"));
        const QString folder = TmpFilePath::processFolderPath();
        qputenv("TMPDIR", QFile::encodeName(_tmp.path()));
        QCOMPARE(folder, "/tmp/Velluma" + _pid);
    }

    void noPrivateFolderGivesNoPath()
    {
        // A temporary "folder" that is a plain file: nothing can be made inside it.
        QVERIFY(writeFile(_tmp.path() + "/plain", "x"));
        qputenv("TMPDIR", QFile::encodeName(_tmp.path() + "/plain"));
        const QString path = TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), 101);
        const QString absolute = TmpFilePath::tmpPathForFormat(QStringLiteral("/x/Beach"), 101);
        qputenv("TMPDIR", QFile::encodeName(_tmp.path()));
        QVERIFY(path.isEmpty());
        QCOMPARE(absolute, QStringLiteral("/x/Beach"));
    }

    // Something already sits at the process folder's path that is not a private folder of
    // ours: it must be neither written into nor removed.
    void plantedThingIsNeverUsed_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("symlink to a folder") << "symlink";
        QTest::newRow("dangling symlink") << "dangling";
        QTest::newRow("plain file") << "file";
        QTest::newRow("folder others may write into") << "loose";
        QTest::newRow("another user's folder") << "foreign";
    }

    void plantedThingIsNeverUsed()
    {
        QFETCH(QString, kind);
        const QString planted = TmpFilePath::processFolderPath();
        QTemporaryDir target;
        QVERIFY(target.isValid());
        if (kind == "symlink") {
            QVERIFY(QFile::link(target.path(), planted));
        } else if (kind == "dangling") {
            QVERIFY(QFile::link(target.path() + "/missing", planted));
        } else if (kind == "file") {
            QVERIFY(writeFile(planted, "not a folder"));
        } else if (kind == "loose") {
            QVERIFY(QDir().mkdir(planted));
            QVERIFY(::chmod(QFile::encodeName(planted).constData(), 0777) == 0);
        } else if (kind == "foreign") {
            if (::geteuid() != 0)
                QSKIP("only root can make a folder that belongs to someone else");
            QVERIFY(QDir().mkdir(planted));
            QVERIFY(::chmod(QFile::encodeName(planted).constData(), 0700) == 0);
            QVERIFY(::chown(QFile::encodeName(planted).constData(), 65534, 65534) == 0);
        }
        const QFileInfo before(planted);

        const QString path = TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), 101);
        const QString folder = folderOf(path);
        QVERIFY(folder != planted);
        QVERIFY(folder.startsWith(planted + "-"));
        QVERIFY(TmpFilePath::isPrivateFolder(folder));
        QCOMPARE(modeOf(folder), mode_t(0700));
        QVERIFY(writeFile(path, "output"));
        // Stable for the rest of the run.
        QCOMPARE(TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), 101), path);

        // Nothing reached the planted thing or what it points to.
        QCOMPARE(QDir(target.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
        if (kind == "loose" || kind == "foreign")
            QCOMPARE(QDir(planted).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                     QStringList());

        TmpFilePath::removeTmpFiles();
        QVERIFY(!QFileInfo::exists(folder));
        const QFileInfo after(planted);
        QCOMPARE(after.isSymLink(), before.isSymLink());
        QVERIFY(after.isSymLink() || after.exists());
        QVERIFY(QFileInfo(target.path()).isDir());
    }
};

QTEST_GUILESS_MAIN(TestTmpFilePath)
#include "test_tmpfilepath.moc"
