// Framing several photos from the window: the sheet, its question, its progress and Cancel.

#include "TestSupport.h"
#include "app/AppController.h"
#include "app/BatchSheet.h"
#include "foundation/UserDefaults.h"
#include "output/TestFiles.h"
#include "ui/ModalAnswer.h"
#include "ui/PreviewView.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestBatchSheet : public QObject {
    Q_OBJECT

    QTemporaryDir _dir;
    std::unique_ptr<UserDefaults> _defaults;
    std::unique_ptr<AppController> _app;

    QList<QByteArray> photos(int count, QSize size, const QString& prefix)
    {
        QList<QByteArray> names;
        for (int i = 0; i < count; ++i) {
            const QString path = _dir.filePath(QStringLiteral("%1%2.png").arg(prefix).arg(i));
            if (!QFileInfo::exists(path) && !noisePhoto(size.width() + i, size.height()).save(path))
                return {};
            names << QFile::encodeName(path);
        }
        return names;
    }

    // Several photos handed over at once (a second launch, the desktop) or dropped on the
    // window come to the sheet as the menu's do.
    BatchSheet* sheetFor(const QList<QByteArray>& names, const QString& out,
                         const QString& via = "menu")
    {
        if (via == "hand over") {
            _app->openFiles(names);
        } else if (via == "drop") {
            QStringList paths;
            for (const QByteArray& name : names)
                paths << QFile::decodeName(name);
            const std::unique_ptr<QMimeData> mime(fileMime(paths));
            dropOn(_app->previewView(), *mime);
        } else {
            _app->frameSeveral(names);
        }
        BatchSheet* sheet = _app->batchSheet();
        if (sheet)
            sheet->setFolder(out);
        return sheet;
    }

private slots:
    void init()
    {
        QVERIFY(_dir.isValid());
        _defaults = std::make_unique<UserDefaults>(_dir.filePath("prefs.plist"));
        _app = std::make_unique<AppController>(*_defaults);
        _app->mainWindow()->show();
    }
    void cleanup()
    {
        _app.reset();
        _defaults.reset();
    }

    // Every photo is framed into the folder; the one that is no picture is named in the
    // summary. An existing output is kept byte for byte when the user skips existing ones,
    // and replaced when they replace all.
    void framesIntoFolder_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QString>("via");
        QTest::newRow("skip existing") << "skipExisting" << true << "hand over";
        QTest::newRow("replace all") << "replaceAll" << false << "drop";
    }
    void framesIntoFolder()
    {
        QFETCH(QString, answer);
        QFETCH(bool, kept);
        QFETCH(QString, via);
        QList<QByteArray> names = photos(3, QSize(40, 30), "small");
        QVERIFY(writeFile(_dir.filePath("broken.png"), "no picture"));
        names << QFile::encodeName(_dir.filePath("broken.png"));
        const QString out = _dir.filePath("out-" + answer);
        QVERIFY(QDir().mkpath(out));
        QVERIFY(writeFile(out + "/small1.jpg", "framed before"));

        BatchSheet* sheet = sheetFor(names, out, via);
        QVERIFY(sheet && sheet->isVisible());
        QSignalSpy ended(sheet, &BatchSheet::batchEnded);
        whenModalShown(
            [answer](QWidget* modal) {
                if (auto* button = modal->findChild<QPushButton*>(answer))
                    button->click();
            },
            sheet);
        sheet->start();
        QVERIFY(ended.count() == 1 || ended.wait(30000));
        QCOMPARE(sheet->findChild<QProgressBar*>("progressBar")->value(), names.size());
        QVERIFY(sheet->findChild<QLabel*>("countLabel")->text().contains("4"));
        const QString summary = sheet->findChild<QPlainTextEdit*>("summary")->toPlainText();
        QVERIFY(summary.contains("broken.png"));
        QVERIFY(!summary.contains("small"));
        for (const QString name : {"small0.jpg", "small1.jpg", "small2.jpg"}) {
            if (name == QLatin1String("small1.jpg") && kept)
                QCOMPARE(readAll(out + "/" + name), QByteArray("framed before"));
            else
                QCOMPARE(QImageReader(out + "/" + name).size(),
                         QSize(40 + name[5].digitValue(), 30));
        }
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 3);
    }

    // Cancel frees the sheet at once; the photos being framed then are never written, and
    // no hidden file stays.
    void cancelStopsAndLeavesNoPartialFile()
    {
        const QList<QByteArray> names = photos(12, QSize(1600, 1200), "big");
        QCOMPARE(names.size(), 12);
        const QString out = _dir.filePath("cancelled");
        BatchSheet* sheet = sheetFor(names, out);
        QVERIFY(sheet);
        QSignalSpy ended(sheet, &BatchSheet::batchEnded);
        QSignalSpy workEnded(sheet, &BatchSheet::workEnded);
        sheet->start();
        QVERIFY(sheet->isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(sheet->framedCount() >= 1, 60000);
        QElapsedTimer clock;
        clock.start();
        sheet->findChild<QPushButton*>("cancelButton")->click();
        QCOMPARE(ended.count(), 1);
        QVERIFY(!sheet->isRunning());
        QVERIFY(clock.elapsed() < 1000);
        const QStringList atCancel = QDir(out).entryList(QDir::Files);
        QVERIFY(workEnded.count() == 1 || workEnded.wait(60000));
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), atCancel);
        QVERIFY(atCancel.size() < names.size());
        for (const QString& name : atCancel)
            QVERIFY(QImageReader(out + "/" + name).canRead());
    }
};

QTEST_MAIN(TestBatchSheet)
#include "test_batchsheet.moc"
