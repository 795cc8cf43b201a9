// Every input that ever made a fuzz harness fail, through the same entry functions; a clean
// return is the pass, a fault shows as a crash or a sanitizer report (build-asan).
#include "fuzz/FuzzTargets.h"

#include <QDir>
#include <QFile>
#include <QtTest>

class TestFuzzRegression : public QObject {
    Q_OBJECT
private slots:
    void keptInputs_data()
    {
        QTest::addColumn<QString>("harness");
        QTest::addColumn<QString>("path");
        for (const QString& harness : FuzzTargets::names()) {
            // No input at all is the smallest hostile one.
            QTest::addRow("%s/empty", qPrintable(harness)) << harness << QString();
            const QDir folder(VELLUMA_TEST_DATA "/fuzz/" + harness);
            for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden, QDir::Name))
                QTest::addRow("%s/%s", qPrintable(harness), qPrintable(name))
                    << harness << folder.filePath(name);
        }
    }
    void keptInputs()
    {
        QFETCH(QString, harness);
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY2(path.isEmpty() || file.open(QIODevice::ReadOnly), qPrintable(path));
        const QByteArray data = file.isOpen() ? file.readAll() : QByteArray();
        QVERIFY(FuzzTargets::run(harness, reinterpret_cast<const uint8_t*>(data.constData()),
                                 size_t(data.size())));
    }
};

QTEST_GUILESS_MAIN(TestFuzzRegression)
#include "test_fuzzregression.moc"
