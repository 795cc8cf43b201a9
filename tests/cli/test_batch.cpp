// velluma-frame as a step of a larger pipeline: photo lists, shards, resuming, JSON lines.

#include "output/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

namespace {

QProcess* start(const QStringList& args, const QByteArray& input = {})
{
    auto* p = new QProcess;
    p->start(QStringLiteral(VELLUMA_FRAME_BINARY), args);
    p->write(input);
    p->closeWriteChannel();
    return p;
}

// The JSON objects a run printed, by input; every line of its output must be one.
QHash<QString, QJsonObject> jsonLines(QProcess* p, bool* allParsed)
{
    QHash<QString, QJsonObject> lines;
    *allParsed = p->waitForFinished(120000);
    for (const QByteArray& line : p->readAllStandardOutput().split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        *allParsed = *allParsed && !object.isEmpty() && !lines.contains(object["input"].toString());
        lines.insert(object["input"].toString(), object);
    }
    delete p;
    return lines;
}

QStringList hidden(const QString& folder)
{
    return QDir(folder).entryList({".velluma-frame-*"}, QDir::Files | QDir::Hidden);
}

} // namespace

class TestBatch : public QObject {
    Q_OBJECT

    QTemporaryDir _dir;
    QStringList _photos; // absolute

private slots:
    void initTestCase()
    {
        QVERIFY(_dir.isValid());
        for (int i = 0; i < 10; ++i) {
            _photos << _dir.filePath(QStringLiteral("p%1.png").arg(i));
            QVERIFY(gradientPhoto(60 + i, 40, i * 20).save(_photos.last()));
        }
        QVERIFY(writeFile(_dir.filePath("broken.jpg"), "no picture"));
    }

    // Four runs side by side share one list: each photo is framed by exactly one of them,
    // and every JSON line tells the file as it was written.
    void shardsFrameEachPhotoOnce()
    {
        const QString out = _dir.filePath("shards");
        const QStringList list = _photos + QStringList{_dir.filePath("broken.jpg")};
        QList<QProcess*> runs;
        for (int k = 0; k < 4; ++k)
            runs << start({"--files-from", "-", "--shard", QStringLiteral("%1/4").arg(k), "--json",
                           "-j", "2", "-o", out},
                          list.join('\n').toUtf8() + '\n');
        QHash<QString, QJsonObject> all;
        for (QProcess* run : runs) {
            bool parsed = false;
            const QHash<QString, QJsonObject> lines = jsonLines(run, &parsed);
            QVERIFY(parsed);
            for (auto it = lines.begin(); it != lines.end(); ++it)
                QVERIFY2(!all.contains(it.key()), qPrintable(it.key()));
            all.insert(lines);
        }
        QCOMPARE(all.size(), list.size());
        QCOMPARE(all.value(list.last())["status"].toString(), QString("failed"));
        QVERIFY(!all.value(list.last())["error"].toString().isEmpty());
        for (const QString& photo : std::as_const(_photos)) {
            const QJsonObject line = all.value(photo);
            QCOMPARE(line["status"].toString(), QString("written"));
            const QString output = line["output"].toString();
            QCOMPARE(QFileInfo(output).absolutePath(), out);
            QCOMPARE(line["bytes"].toInteger(), QFileInfo(output).size());
            QCOMPARE(QSize(line["width"].toInt(), line["height"].toInt()),
                     QImageReader(output).size());
            QVERIFY(line["quality"].toInt() > 0 && line["milliseconds"].toInteger() >= 0);
        }
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), _photos.size());
    }

    // A NUL-separated list holds any name, a newline included, and adds to the arguments.
    void nulSeparatedList()
    {
        const QString odd = _dir.filePath("new\nline.png");
        QVERIFY(QFile::copy(_photos[0], odd));
        const QString out = _dir.filePath("nul");
        QProcess* p = start({"-0", "--files-from", "-", "-o", out, _photos[1]},
                            QFile::encodeName(odd) + '\0' + QFile::encodeName(_photos[2]) + '\0');
        QVERIFY(p->waitForFinished(60000));
        QCOMPARE(p->exitCode(), 0);
        delete p;
        QStringList written = QDir(out).entryList(QDir::Files);
        written.sort();
        QCOMPARE(written, QStringList({"new\nline.jpg", "p1.jpg", "p2.jpg"}));
    }

    // Killed outright while writing, a run is finished by --resume: the outputs it had
    // finished stay as they are and its hidden files go.
    void resumeAfterKill()
    {
        const QString out = _dir.filePath("resume");
        QStringList big;
        for (int i = 0; i < 6; ++i) {
            big << _dir.filePath(QStringLiteral("big%1.png").arg(i));
            QVERIFY(noisePhoto(1200 + i, 900).save(big.last()));
        }
        QProcess* p = start(QStringList{"-j", "1", "-F", "png", "-o", out} + big);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 60000 &&
               (QDir(out).entryList(QDir::Files).isEmpty() || hidden(out).isEmpty()))
            QThread::usleep(200);
        ::kill(pid_t(p->processId()), SIGKILL);
        QVERIFY(p->waitForFinished(10000));
        delete p;
        QVERIFY(!hidden(out).isEmpty());
        // Another host's, in a folder shared between hosts: its process cannot be asked.
        const QString elsewhere = out + "/.velluma-frame-4194305-elsewhere-aB3dE9";
        QVERIFY(writeFile(elsewhere, "partial"));
        QHash<QString, QDateTime> finished;
        for (const QFileInfo& file : QDir(out).entryInfoList(QDir::Files))
            finished.insert(file.fileName(), file.lastModified());
        QVERIFY(finished.size() < big.size());

        bool parsed = false;
        const QHash<QString, QJsonObject> lines = jsonLines(
            start(QStringList{"--resume", "--json", "-F", "png", "-o", out} + big), &parsed);
        QVERIFY(parsed);
        QCOMPARE(hidden(out), QStringList{QFileInfo(elsewhere).fileName()});
        QCOMPARE(QDir(out).entryList(QDir::Files).size(), big.size());
        for (const QString& photo : std::as_const(big)) {
            const QString name = QFileInfo(photo).completeBaseName() + ".png";
            QCOMPARE(lines.value(photo)["status"].toString(),
                     finished.contains(name) ? QString("skipped") : QString("written"));
            if (finished.contains(name))
                QCOMPARE(QFileInfo(out + "/" + name).lastModified(), finished.value(name));
        }
    }

    // The same photos and options give the same bytes whatever the number of jobs.
    void sameBytesEveryRun_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("jpeg") << QStringList{"-q", "80"};
        QTest::newRow("jpeg under a limit, metadata") << QStringList{"-l", "2", "-m"};
        QTest::newRow("png, transparent") << QStringList{"-F", "png", "-t"};
        QTest::newRow("tiff, metadata") << QStringList{"-F", "tiff", "-m", "--flip"};
    }
    void sameBytesEveryRun()
    {
        QFETCH(QStringList, options);
        QList<QHash<QString, QByteArray>> results;
        for (const char* jobs : {"1", "3"}) {
            const QString out = _dir.filePath("same-" + QString::number(qHash(options)) + jobs);
            QProcess* p = start(options + QStringList{"-j", jobs, "-o", out} + _photos.mid(0, 4));
            QVERIFY(p->waitForFinished(60000) && p->exitCode() == 0);
            delete p;
            QHash<QString, QByteArray> files;
            for (const QString& name : QDir(out).entryList(QDir::Files))
                files.insert(name, readAll(out + "/" + name));
            QCOMPARE(files.size(), 4);
            results << files;
        }
        QCOMPARE(results[0], results[1]);
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("shard past its count") << QStringList{"--shard", "4/4", "a.png"};
        QTest::newRow("shard of none") << QStringList{"--shard", "0/0", "a.png"};
        QTest::newRow("shard without count") << QStringList{"--shard", "1", "a.png"};
        QTest::newRow("resume and force") << QStringList{"--resume", "--force", "a.png"};
        QTest::newRow("missing list") << QStringList{"--files-from", _dir.filePath("none")};
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        QProcess* p = start(args);
        QVERIFY(p->waitForFinished(30000));
        QCOMPARE(p->exitCode(), 2);
        QVERIFY(p->readAllStandardOutput().isEmpty());
        delete p;
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "test_batch.moc"
