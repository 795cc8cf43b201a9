#include "ui/PreferenceController.h"

#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "ui/ModalAnswer.h"
#include "ui/ToolTipHider.h"

#include <QCheckBox>
#include <QHelpEvent>
#include <QMainWindow>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

namespace {

// The keys of the sheet's ticked boxes, sorted.
QStringList ticked(QWidget* sheet)
{
    QStringList keys;
    for (const QCheckBox* box : sheet->findChildren<QCheckBox*>())
        if (box->isChecked())
            keys << box->objectName();
    keys.sort();
    return keys;
}

} // namespace

class TestPreferenceController : public QObject {
    Q_OBJECT
private slots:
    void endingTheSheet_data()
    {
        QTest::addColumn<QString>("end"); // a button's name or "Escape"
        QTest::addColumn<bool>("stores");
        QTest::addColumn<bool>("checks");
        QTest::newRow("OK") << "okButton" << true << false;
        QTest::newRow("Cancel") << "cancelButton" << false << false;
        QTest::newRow("Escape") << "Escape" << false << false;
        QTest::newRow("Check Now") << "checkNowButton" << true << true;
    }
    void endingTheSheet()
    {
        QFETCH(QString, end);
        QFETCH(bool, stores);
        QFETCH(bool, checks);
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath("Velluma.plist"));
        QVariantMap factory = PreferenceController::defaults();
        factory.insert(DefCheckForUpdatesAtStartup, false);
        defaults.registerDefaults(factory);
        QMainWindow window;
        window.show();
        PreferenceController controller(defaults);
        QStringList events;
        connect(&controller, &PreferenceController::preferenceDidChange,
                [&] { events << "changed"; });
        // The check waits until the sheet is gone.
        connect(&controller, &PreferenceController::checkForUpdatesRequested, [&] {
            events << (controller.window()->isVisible() ? "check while shown" : "check");
        });
        QStringList shown, whileOpen;
        whenModalShown([&](QWidget* sheet) {
            shown = ticked(sheet);
            sheet->findChild<QCheckBox*>(DefAutoRotateBorder)->click();
            sheet->findChild<QCheckBox*>(DefHideToolTips)->click();
            whileOpen = events;
            whileOpen << QString::number(defaults.hasStoredValue(DefAutoRotateBorder));
            if (end == "Escape")
                QTest::keyClick(sheet, Qt::Key_Escape);
            else
                sheet->findChild<QPushButton*>(end)->click();
        });
        controller.showWindow(&window);
        QCOMPARE(shown, QStringList{DefAutoRotateBorder});
        QCOMPARE(whileOpen, QStringList{"0"}); // held back until the sheet ends
        QTest::qWait(0);
        const QStringList ended = QStringList({"changed", "check"}).mid(0, stores + checks);
        QCOMPARE(events, ended);
        UserDefaults stored(dir.filePath("Velluma.plist"));
        QCOMPARE(stored.hasStoredValue(DefAutoRotateBorder), stores);
        QCOMPARE(stored.hasStoredValue(DefHideToolTips), stores);
        // Untouched keys keep following the factory values.
        QVERIFY(!stored.hasStoredValue(DefHideExtension));

        // Reopened after a change made elsewhere: the stored values, not a cancelled edit. OK
        // there does not ask for a second check.
        defaults.setBool(true, DefCheckForUpdatesAtStartup);
        whenModalShown([&](QWidget* sheet) {
            shown = ticked(sheet);
            sheet->findChild<QPushButton*>("okButton")->click();
        });
        controller.showWindow(&window);
        QCOMPARE(shown, stores ? QStringList({DefCheckForUpdatesAtStartup, DefHideToolTips})
                               : QStringList({DefAutoRotateBorder, DefCheckForUpdatesAtStartup}));
        QTest::qWait(0);
        QCOMPARE(events, ended + QStringList{"changed"});

        // Tooltips follow the setting from the start, and a change takes down one that is up.
        ToolTipHider hider(defaults);
        qApp->installEventFilter(&hider);
        const auto remove = qScopeGuard([&] { qApp->removeEventFilter(&hider); });
        window.setToolTip("tip");
        const auto ask = [&window] {
            QHelpEvent event(QEvent::ToolTip, QPoint(5, 5), window.mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(&window, &event);
            return QToolTip::isVisible();
        };
        QCOMPARE(ask(), !stores);
        defaults.setBool(!stores, DefHideToolTips);
        QTRY_COMPARE(QToolTip::isVisible(), false);
        QCOMPARE(ask(), stores);
    }
};

QTEST_MAIN(TestPreferenceController)
#include "test_preferencecontroller.moc"
