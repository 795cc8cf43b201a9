#include "TestSupport.h"
#include "foundation/DictionaryAccess.h"
#include "foundation/FileManagerExtras.h"
#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"
#include "output/TestFiles.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestFoundation : public QObject {
    Q_OBJECT
private slots:
    void integerForKey()
    {
        const std::pair<QVariant, int> rows[] = {{QVariant(), 0},
                                                 {42, 42},
                                                 {-7, -7},
                                                 {qint64(101), 101},
                                                 {QString("12"), 12},
                                                 {QString(" 12abc"), 12},
                                                 {QString("abc"), 0},
                                                 {true, 1},
                                                 {2.9, 2},
                                                 {QDateTime::currentDateTime(), 0},
                                                 {QVariantList{1, 2}, 0}};
        for (const auto& [value, expected] : rows) {
            const QVariantMap dict = value.isValid() ? QVariantMap{{"k", value}} : QVariantMap();
            QVERIFY2(DictionaryAccess::integerForKey(dict, "k") == expected,
                     qPrintable(value.toString()));
        }
    }

    void createDirectory()
    {
        QTemporaryDir tmp;
        const auto create = [&tmp](const QString& path, bool recursive) {
            return FileManagerExtras::createDirectoryAtPath(tmp.filePath(path), std::nullopt,
                                                            recursive);
        };
        QVERIFY(create("a/b/c", true));
        // An existing folder is success and untouched when recursive, failure when not.
        QVERIFY(writeBytes(tmp.filePath("a/b/c/keep"), ""));
        QVERIFY(create("a/b/c", true) && !create("a/b/c", false));
        QVERIFY(QFile::exists(tmp.filePath("a/b/c/keep")));
        QVERIFY(!create("x/y", false) && !QFileInfo::exists(tmp.filePath("x")));
        // An existing file is failure, and so is a path beneath it.
        QVERIFY(writeBytes(tmp.filePath("plain"), ""));
        QVERIFY(!create("plain", true) && !create("plain/x/y", true));
        QVERIFY(QFileInfo(tmp.filePath("plain")).isFile());
        // Permissions apply to every folder made, not only the last.
        const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
        const auto user = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
        QVERIFY(FileManagerExtras::createDirectoryAtPath(tmp.filePath("p/q"), owner, true));
        for (const QString& p : {tmp.filePath("p"), tmp.filePath("p/q")})
            QCOMPARE(QFileInfo(p).permissions() & ~(owner | user), QFileDevice::Permissions());
    }

    void storedValues()
    {
        QTemporaryDir tmp;
        const QString path = tmp.filePath("s.plist");
        // Every kind of value a settings file holds comes back as it was.
        const QVariantList destinations{
            QVariantMap{{"destination", "/home/ü/Pictures"}, {"targetType", 0}},
            QVariantMap{{"destination", "/usr/bin/gimp"}, {"targetType", 1}, {"tag", 7}},
            -3,
            false,
            0.5,
            QByteArray("\0\1\2", 3)};
        {
            UserDefaults d(path);
            d.registerDefaults({{"JpegQuality", 90}});
            QCOMPARE(d.integerForKey("JpegQuality"), 90);
            QVERIFY(!d.hasStoredValue("JpegQuality"));
            d.setInteger(75, "JpegQuality");
            d.setObject(destinations, "Destinations");
            QCOMPARE(d.incrementIntegerForKey("LaunchCount"), 1);
            QCOMPARE(d.incrementIntegerForKey("LaunchCount"), 2);
            // Written at once: a plain read of the file sees it.
            QCOMPARE(PropertyList::fromFile(path).toMap().value("LaunchCount").toInt(), 2);
        }
        // Stored values persist, registered ones do not.
        UserDefaults again(path);
        QCOMPARE(again.integerForKey("JpegQuality"), 75);
        QCOMPARE(again.arrayForKey("Destinations"), destinations);
        QCOMPARE(again.arrayForKey("Destinations").value(3).typeId(), int(QMetaType::Bool));
        again.removeObjectForKey("JpegQuality");
        QCOMPARE(again.integerForKey("JpegQuality"), 0);

        // Values of the wrong type read as nothing, or as what they plainly say.
        QVERIFY(PropertyList::toFile(QVariantMap{{"FileFormat", "abc"},
                                                 {"JpegQuality", "80"},
                                                 {"LimitFilesize", QVariantList{1}},
                                                 {"Destinations", "not a list"},
                                                 {"HideExtension", 1}},
                                     path));
        UserDefaults d(path);
        QCOMPARE(std::make_tuple(d.integerForKey("FileFormat"), d.integerForKey("JpegQuality"),
                                 d.boolForKey("LimitFilesize"), d.boolForKey("HideExtension")),
                 std::make_tuple(0, 80, false, true));
        QVERIFY(d.arrayForKey("Destinations").isEmpty() && d.backupPath().isEmpty());
    }

    void changeNotification()
    {
        QTemporaryDir tmp;
        UserDefaults d(tmp.filePath("s.plist"));
        d.registerDefaults({{"FilesizeLimit", 500}});
        QSignalSpy spy(&d, &UserDefaults::valueChanged);
        QObject context;
        QStringList seen, none;
        d.addObserver({"FilesizeLimit", "LimitFilesize"}, &context,
                      [&seen](const QString& key, const QVariant&) { seen << key; });
        // An empty list observes nothing.
        d.addObserver({}, &context, [&none](const QString& key, const QVariant&) { none << key; });
        d.setInteger(500, "FilesizeLimit"); // same value read: no change
        d.setInteger(600, "FilesizeLimit");
        d.removeObjectForKey("FilesizeLimit");
        d.setBool(true, "LimitFilesize");
        d.setInteger(95, "JpegQuality");
        QCOMPARE(spy.count(), 4);
        QCOMPARE(spy.mid(0, 2),
                 (QList<QVariantList>{{"FilesizeLimit", 600}, {"FilesizeLimit", 500}}));
        QCOMPARE(seen, (QStringList{"FilesizeLimit", "FilesizeLimit", "LimitFilesize"}));
        QVERIFY(none.isEmpty());
    }

    void fileOnDisk()
    {
        const QByteArray good = PropertyList::toData(QVariantMap{{"JpegQuality", 42}});
        // what the settings file holds; the quality read, 90 (the registered value) when the
        // file was set aside. Hostile shapes (nesting, shared arrays) are rows of test_hostile.
        const std::pair<QByteArray, int> rows[] = {
            {PropertyList::toData(QVariantMap{{"JpegQuality", 55}}, true), 55},
            {"\x01\x02 not a settings file", 90},
            {good.left(good.size() - 20), 90},
            {PropertyList::toData(QVariantList{1, 2}), 90},
            {"bplist00\x01", 90}};
        for (const auto& [content, quality] : rows) {
            QTemporaryDir tmp;
            const QString path = tmp.filePath("Velluma.plist");
            QVERIFY(writeBytes(path, content));
            UserDefaults d(path);
            d.registerDefaults({{"JpegQuality", 90}});
            QCOMPARE(d.integerForKey("JpegQuality"), quality);
            QCOMPARE(d.backupPath().isEmpty(), quality != 90);
            // Storing what is stored already leaves the file as it is; writing after the file was
            // set aside gives a good file and leaves the backup alone.
            const bool setAside = quality == 90;
            QCOMPARE(readAll(setAside ? d.backupPath() : path), content);
            d.setInteger(setAside ? 70 : quality, "JpegQuality");
            QVERIFY(d.synchronize());
            QCOMPARE(setAside ? readAll(d.backupPath()) : readAll(path), content);
            if (setAside)
                QCOMPARE(PropertyList::fromFile(path).toMap().value("JpegQuality").toInt(), 70);
        }
    }
};

QTEST_GUILESS_MAIN(TestFoundation)
#include "test_foundation.moc"
