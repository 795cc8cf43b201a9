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

// The keys of the sheet's boxes (only the ticked ones when asked), sorted.
QStringList boxes(QWidget* sheet, bool onlyTicked = true)
{
    QStringList keys;
    for (const QCheckBox* box : sheet->findChildren<QCheckBox*>()) {
        if (!onlyTicked || box->isChecked())
            keys << box->objectName();
    }
    keys.sort();
    return keys;
}

// Counts the tooltips the widget was asked for that reached it.
class ToolTipCounter : public QWidget {
public:
    int toolTips = 0;
    void ask()
    {
        QHelpEvent event(QEvent::ToolTip, QPoint(5, 5), mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(this, &event);
    }

protected:
    bool event(QEvent* event) override
    {
        toolTips += event->type() == QEvent::ToolTip;
        return QWidget::event(event);
    }
};

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

        QStringList offered, shown, whileOpen;
        bool asSheet = false;
        whenModalShown([&](QWidget* sheet) {
            asSheet =
                sheet->windowModality() == Qt::WindowModal && sheet->parentWidget() == &window;
            offered = boxes(sheet, false);
            shown = boxes(sheet);
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
        QVERIFY(asSheet);
        // Files have no hidden extension here: that setting is kept but not offered.
        QCOMPARE(offered,
                 QStringList({DefAutoRotateBorder, DefCheckForUpdatesAtStartup, DefHideToolTips}));
        QCOMPARE(shown, QStringList{DefAutoRotateBorder});
        QCOMPARE(whileOpen, QStringList{"0"}); // held back until the sheet ends
        QTest::qWait(0);
        QCOMPARE(events, stores
                             ? (checks ? QStringList{"changed", "check"} : QStringList{"changed"})
                             : QStringList());
        QCOMPARE(defaults.hasStoredValue(DefAutoRotateBorder), stores);
        QCOMPARE(defaults.boolForKey(DefHideToolTips), stores);
        // Untouched keys keep following the factory values.
        QVERIFY(!defaults.hasStoredValue(DefHideExtension));
        QCOMPARE(UserDefaults(dir.filePath("Velluma.plist")).hasStoredValue(DefAutoRotateBorder),
                 stores);

        // Reopened after a change made elsewhere: the stored values, not a cancelled edit. OK
        // there does not ask for a second check.
        QPointer<QDialog> first = controller.window();
        defaults.setBool(true, DefCheckForUpdatesAtStartup);
        QWidget* second = nullptr;
        whenModalShown([&](QWidget* sheet) {
            second = sheet;
            shown = boxes(sheet);
            sheet->findChild<QPushButton*>("okButton")->click();
        });
        controller.showWindow(&window);
        QCOMPARE(second, first.data());
        QCOMPARE(shown, stores ? QStringList({DefCheckForUpdatesAtStartup, DefHideToolTips})
                               : QStringList({DefAutoRotateBorder, DefCheckForUpdatesAtStartup}));
        QTest::qWait(0);
        QCOMPARE(events.count("check"), int(checks));
    }
    void toolTipsFollowTheSetting()
    {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath("Velluma.plist"));
        // Set at launch: hidden from the start.
        defaults.setBool(true, DefHideToolTips);
        ToolTipHider hider(defaults);
        qApp->installEventFilter(&hider);
        const auto remove = qScopeGuard([&] { qApp->removeEventFilter(&hider); });
        ToolTipCounter widget;
        widget.setToolTip("tip");
        widget.resize(50, 50);
        widget.show();
        widget.ask();
        QCOMPARE(widget.toolTips, 0);
        defaults.setBool(false, DefHideToolTips);
        widget.ask();
        QCOMPARE(widget.toolTips, 1);
        // Turning it on also takes down a tooltip that is up at that moment.
        QToolTip::showText(widget.mapToGlobal(QPoint(5, 5)), "tip", &widget);
        QVERIFY(QToolTip::isVisible());
        defaults.setBool(true, DefHideToolTips);
        QTRY_VERIFY(!QToolTip::isVisible());
        widget.ask();
        QCOMPARE(widget.toolTips, 1);
    }
};

QTEST_MAIN(TestPreferenceController)
#include "test_preferencecontroller.moc"
