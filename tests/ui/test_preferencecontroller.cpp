#include "ui/PreferenceController.h"

#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "ui/ModalAnswer.h"

#include <QCheckBox>
#include <QMainWindow>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

QCheckBox* box(QWidget* sheet, const QString& key)
{
    return sheet->findChild<QCheckBox*>(key);
}

void press(QWidget* sheet, const char* name)
{
    sheet->findChild<QPushButton*>(QLatin1String(name))->click();
}

} // namespace

class TestPreferenceController : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void defaultsTable();
    void okStoresAndAnnounces();
    void cancelAndEscapeDiscard_data();
    void cancelAndEscapeDiscard();
    void checkNowStoresThenAsksAfterTheSheet();
    void reopeningShowsStoredValues();

private:
    std::unique_ptr<QTemporaryDir> _dir;
    std::unique_ptr<UserDefaults> _defaults;
    std::unique_ptr<QMainWindow> _window;
};

void TestPreferenceController::init()
{
    _dir = std::make_unique<QTemporaryDir>();
    _defaults = std::make_unique<UserDefaults>(_dir->filePath("Velluma.plist"));
    QVariantMap factory = PreferenceController::defaults();
    factory.insert(DefCheckForUpdatesAtStartup, false);
    _defaults->registerDefaults(factory);
    _window = std::make_unique<QMainWindow>();
    _window->show();
}

void TestPreferenceController::cleanup()
{
    _window.reset();
    _defaults.reset();
    _dir.reset();
}

void TestPreferenceController::defaultsTable()
{
    const QVariantMap defaults = PreferenceController::defaults();
    QCOMPARE(defaults.size(), 3);
    QCOMPARE(defaults.value(DefHideExtension), QVariant(true));
    QCOMPARE(defaults.value(DefHideToolTips), QVariant(false));
    QCOMPARE(defaults.value(DefAutoRotateBorder), QVariant(true));
}

void TestPreferenceController::okStoresAndAnnounces()
{
    PreferenceController controller(*_defaults);
    QSignalSpy changed(&controller, &PreferenceController::preferenceDidChange);
    QSignalSpy check(&controller, &PreferenceController::checkForUpdatesRequested);

    bool shownAsSheet = false;
    bool shownStored = false;
    whenModalShown([&](QWidget* sheet) {
        shownAsSheet = sheet->windowModality() == Qt::WindowModal &&
                       sheet->parentWidget() == _window.get() &&
                       sheet->objectName() == "Preference";
        shownStored = box(sheet, DefAutoRotateBorder)->isChecked() &&
                      box(sheet, DefHideExtension)->isChecked() &&
                      !box(sheet, DefHideToolTips)->isChecked() &&
                      !box(sheet, DefCheckForUpdatesAtStartup)->isChecked();
        box(sheet, DefAutoRotateBorder)->click();
        box(sheet, DefCheckForUpdatesAtStartup)->click();
        QCOMPARE(_defaults->boolForKey(DefAutoRotateBorder), true); // held back until OK
        press(sheet, "okButton");
    });
    controller.showWindow(_window.get());

    QVERIFY(shownAsSheet);
    QVERIFY(shownStored);
    QVERIFY(!controller.window()->isVisible());
    QCOMPARE(_defaults->boolForKey(DefAutoRotateBorder), false);
    QCOMPARE(_defaults->boolForKey(DefCheckForUpdatesAtStartup), true);
    // Untouched keys keep following the factory values.
    QVERIFY(!_defaults->hasStoredValue(DefHideExtension));
    QVERIFY(!_defaults->hasStoredValue(DefHideToolTips));
    QCOMPARE(changed.size(), 1);
    QTest::qWait(0);
    QCOMPARE(check.size(), 0);

    // The file on disk has the change too.
    UserDefaults reread(_dir->filePath("Velluma.plist"));
    QCOMPARE(reread.boolForKey(DefAutoRotateBorder), false);
}

void TestPreferenceController::cancelAndEscapeDiscard_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("Cancel button") << false;
    QTest::newRow("Escape") << true;
}

void TestPreferenceController::cancelAndEscapeDiscard()
{
    QFETCH(bool, escape);
    PreferenceController controller(*_defaults);
    QSignalSpy changed(&controller, &PreferenceController::preferenceDidChange);
    QSignalSpy stored(_defaults.get(), &UserDefaults::valueChanged);

    whenModalShown([&](QWidget* sheet) {
        box(sheet, DefAutoRotateBorder)->click();
        box(sheet, DefHideToolTips)->click();
        if (escape)
            QTest::keyClick(sheet, Qt::Key_Escape);
        else
            press(sheet, "cancelButton");
    });
    controller.showWindow(_window.get());

    QCOMPARE(_defaults->boolForKey(DefAutoRotateBorder), true);
    QCOMPARE(_defaults->boolForKey(DefHideToolTips), false);
    QVERIFY(!_defaults->hasStoredValue(DefAutoRotateBorder));
    QCOMPARE(stored.size(), 0);
    QCOMPARE(changed.size(), 0);
}

void TestPreferenceController::checkNowStoresThenAsksAfterTheSheet()
{
    PreferenceController controller(*_defaults);
    QStringList order;
    connect(&controller, &PreferenceController::preferenceDidChange, [&] { order << "changed"; });
    connect(&controller, &PreferenceController::checkForUpdatesRequested,
            [&] { order << (controller.window()->isVisible() ? "check while shown" : "check"); });

    whenModalShown([&](QWidget* sheet) {
        box(sheet, DefHideToolTips)->click();
        press(sheet, "checkNowButton");
    });
    controller.showWindow(_window.get());

    // Stored although OK was never pressed; the check waits for the next turn.
    QCOMPARE(_defaults->boolForKey(DefHideToolTips), true);
    QCOMPARE(order, QStringList{"changed"});
    QTRY_COMPARE(order, (QStringList{"changed", "check"}));

    // A later OK does not ask again.
    whenModalShown([&](QWidget* sheet) { press(sheet, "okButton"); });
    controller.showWindow(_window.get());
    QTest::qWait(0);
    QCOMPARE(order, (QStringList{"changed", "check", "changed"}));
}

void TestPreferenceController::reopeningShowsStoredValues()
{
    PreferenceController controller(*_defaults);
    QVERIFY(!controller.window());

    whenModalShown([&](QWidget* sheet) {
        box(sheet, DefHideExtension)->click();
        press(sheet, "cancelButton");
    });
    controller.showWindow(_window.get());
    QPointer<QDialog> first = controller.window();
    QVERIFY(first);

    // Changed elsewhere meanwhile; the cancelled edit must not come back.
    _defaults->setBool(true, DefHideToolTips);
    bool hideExtension = false;
    bool hideToolTips = false;
    QWidget* second = nullptr;
    whenModalShown([&](QWidget* sheet) {
        second = sheet;
        hideExtension = box(sheet, DefHideExtension)->isChecked();
        hideToolTips = box(sheet, DefHideToolTips)->isChecked();
        press(sheet, "okButton");
    });
    controller.showWindow(_window.get());
    QCOMPARE(second, first.data());
    QVERIFY(hideExtension);
    QVERIFY(hideToolTips);
    QCOMPARE(_defaults->boolForKey(DefHideExtension), true);
}

QTEST_MAIN(TestPreferenceController)
#include "test_preferencecontroller.moc"
