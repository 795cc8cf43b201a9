#include "output/TestFiles.h"
#include "output/TmpFilePath.h"

#include <QCoreApplication>
#include <QDir>
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

QString folderOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

QString beach(int format = 101)
{
    return TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), format);
}

} // namespace

class TestTmpFilePath : public QObject {
    Q_OBJECT

private:
    QTemporaryDir _tmp;

    void setTmpDir(const QString& path) { qputenv("TMPDIR", QFile::encodeName(path)); }

private slots:
    void initTestCase()
    {
        QVERIFY(_tmp.isValid());
        // Every temporary folder of this run goes below a folder of its own.
        setTmpDir(_tmp.path());
        QCoreApplication::setApplicationName(QStringLiteral("Velluma"));
    }

    void cleanup()
    {
        TmpFilePath::removeTmpFiles();
        const QString planted = TmpFilePath::processFolderPath();
        QFileInfo info(planted);
        if (info.isSymLink() || info.isFile()) {
            QFile::remove(planted);
        } else if (info.isDir()) {
            ::chmod(QFile::encodeName(planted).constData(), 0700);
            QDir(planted).removeRecursively();
        }
    }

    // Bare names go into the process folder, named after the process and its id;
    // absolute names stand as they are and need no folder.
    void paths_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("tiff") << "Beach" << 103 << "Beach.tiff";
        QTest::newRow("gif is no output format") << "Beach" << 104 << "Beach.";
        QTest::newRow("name with extension") << "Beach.jpg" << 102 << "Beach.jpg.png";
        QTest::newRow("no climbing out") << "../../etc/x" << 101 << ".._.._etc_x.jpg";
        QTest::newRow("absolute") << "/home/x/Beach.jpg" << 102 << "/home/x/Beach.jpg";
        QTest::newRow("absolute, unknown") << "/home/x/Beach" << 5 << "/home/x/Beach";
        // A document name always stays a bare name.
        for (const auto& [name, bare] :
             {std::pair{"/home/x/notes.txt", "_home_x_notes.txt"}, {"..", "__"}, {"../x", ".._x"}})
            QTest::newRow(qPrintable(QStringLiteral("bare %1").arg(name)))
                << TmpFilePath::bareName(QString::fromUtf8(name)) << 101
                << QString::fromUtf8(bare) + ".jpg";
    }
    void paths()
    {
        QFETCH(QString, name);
        QFETCH(int, format);
        QFETCH(QString, expected);
        const QString folder =
            _tmp.path() + "/Velluma" + QString::number(QCoreApplication::applicationPid());
        QCOMPARE(TmpFilePath::processFolderPath(), folder);
        const bool absolute = expected.startsWith('/');
        QCOMPARE(TmpFilePath::tmpPathForFormat(name, format),
                 absolute ? expected : folder + "/" + expected);
        QCOMPARE(QFileInfo(folder).isDir(), !absolute);
        if (!absolute)
            QCOMPARE(TmpFilePath::fileExtensionForFormat(format), expected.section('.', -1));
    }

    void folderIsPrivateStableAndRemoved()
    {
        const mode_t oldMask = ::umask(0);
        const QString path = beach(102);
        ::umask(oldMask);
        QCOMPARE(modeOf(folderOf(path)), mode_t(0700));
        // Asked again, the folder is not made anew: the file in it is still there.
        QVERIFY(writeFile(path, "x"));
        QCOMPARE(beach(102), path);
        QVERIFY(QFileInfo::exists(path));
        QTemporaryDir outside;
        QVERIFY(writeFile(outside.path() + "/keep.txt", "keep"));
        QVERIFY(QDir().mkdir(folderOf(path) + "/sub"));
        QVERIFY(QFile::link(outside.path(), folderOf(path) + "/link"));
        TmpFilePath::removeTmpFiles();
        QVERIFY(!QFileInfo::exists(TmpFilePath::processFolderPath()));
        // A link inside is removed, not followed.
        QVERIFY(QFileInfo::exists(outside.path() + "/keep.txt"));
        // Removing again, with nothing there, is harmless; the next path makes it again.
        TmpFilePath::removeTmpFiles();
        QCOMPARE(beach(102), path);
        QVERIFY(TmpFilePath::isPrivateFolder(folderOf(path)));
    }

    void noPrivateFolderGivesNoPath()
    {
        // A temporary "folder" that is a plain file: nothing can be made inside it.
        QVERIFY(writeFile(_tmp.path() + "/plain", "x"));
        setTmpDir(_tmp.path() + "/plain");
        const QString path = beach();
        const QString absolute = TmpFilePath::tmpPathForFormat(QStringLiteral("/x/Beach"), 101);
        setTmpDir(_tmp.path());
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
        const QByteArray plantedName = QFile::encodeName(planted);
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
            QVERIFY(::chmod(plantedName.constData(), 0777) == 0);
        } else if (kind == "foreign") {
            if (::geteuid() != 0)
                QSKIP("only root can make a folder that belongs to someone else");
            QVERIFY(QDir().mkdir(planted));
            QVERIFY(::chmod(plantedName.constData(), 0700) == 0);
            QVERIFY(::chown(plantedName.constData(), 65534, 65534) == 0);
        }
        const bool wasLink = QFileInfo(planted).isSymLink();

        const QString path = beach();
        const QString folder = folderOf(path);
        QVERIFY(folder.startsWith(planted + "-"));
        QVERIFY(TmpFilePath::isPrivateFolder(folder));
        QCOMPARE(modeOf(folder), mode_t(0700));
        QVERIFY(writeFile(path, "output"));
        QCOMPARE(beach(), path); // stable for the rest of the run

        // Nothing reached the planted thing or what it points to.
        const auto entries = QDir::NoDotAndDotDot | QDir::AllEntries;
        QCOMPARE(QDir(target.path()).entryList(entries), QStringList());
        if (kind == "loose" || kind == "foreign")
            QCOMPARE(QDir(planted).entryList(entries), QStringList());

        TmpFilePath::removeTmpFiles();
        QVERIFY(!QFileInfo::exists(folder));
        const QFileInfo after(planted);
        QCOMPARE(after.isSymLink(), wasLink);
        QVERIFY(after.isSymLink() || after.exists());
        QVERIFY(QFileInfo(target.path()).isDir());
    }
};

QTEST_GUILESS_MAIN(TestTmpFilePath)
#include "test_tmpfilepath.moc"
