#include "TestSupport.h"
#include "app/AppController.h"
#include "app/MainInterface.h"
#include "foundation/UserDefaults.h"
#include "ui/ZTWindow.h"

#include <QAccessible>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

// The main window on the screens people have: small ones, and read by assistive technology.
class TestScreens : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void windowFitsTheScreen_data();
    void windowFitsTheScreen();
    void everyControlIsNamedInReadingOrder();

private:
    QTemporaryDir _dir;
    std::unique_ptr<UserDefaults> _defaults;
    std::unique_ptr<AppController> _app;
};

void TestScreens::init()
{
    QVERIFY(_dir.isValid());
    QFile::remove(_dir.filePath(QStringLiteral("prefs.plist")));
    _defaults = std::make_unique<UserDefaults>(_dir.filePath(QStringLiteral("prefs.plist")));
}

void TestScreens::cleanup()
{
    _app.reset();
    _defaults.reset();
}

void TestScreens::windowFitsTheScreen_data()
{
    QTest::addColumn<QRect>("remembered");
    // The offscreen screen is smaller than the window the program asks for at first.
    QTest::newRow("first start") << QRect();
    QTest::newRow("from a larger screen") << QRect(300, 200, 1900, 1150);
    QTest::newRow("from a screen now gone") << QRect(-2500, 3000, 600, 400);
}

void TestScreens::windowFitsTheScreen()
{
    QFETCH(QRect, remembered);
    if (remembered.isValid()) {
        ZTWindow earlier;
        earlier.setGeometry(remembered);
        _defaults->setString(QString::fromLatin1(earlier.saveGeometry().toBase64()),
                             QStringLiteral("mainWindow"));
    }
    _app = std::make_unique<AppController>(*_defaults);
    ZTWindow* window = _app->mainWindow();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    // The position of a window is that of its frame.
    const QRect outer(window->pos(), window->size().grownBy(ZTWindow::assumedFrame()));
    QVERIFY(area.contains(outer));
}

void TestScreens::everyControlIsNamedInReadingOrder()
{
    _app = std::make_unique<AppController>(*_defaults);
    ZTWindow* window = _app->mainWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const auto said = [](QWidget* widget, QAccessible::Text what) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
        return face ? face->text(what) : QString();
    };
    QToolBar* toolBar = _app->interface()->toolBar();
    QList<QWidget*> controls;
    for (QAction* action : toolBar->actions()) {
        if (!action->isSeparator() && toolBar->widgetForAction(action)->inherits("QToolButton"))
            controls << toolBar->widgetForAction(action);
    }
    for (QWidget* w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain()) {
        if (w->isVisibleTo(window) && (w->focusPolicy() & Qt::TabFocus))
            controls << w;
    }
    QWidget* previous = nullptr;
    for (QWidget* w : controls) {
        QVERIFY2(!said(w, QAccessible::Name).isEmpty(), w->metaObject()->className());
        QVERIFY2(!said(w, QAccessible::Description).isEmpty(),
                 qPrintable(said(w, QAccessible::Name)));
        if (!window->centralWidget()->isAncestorOf(w))
            continue;
        // Tab goes down the lines, and along a line from left to right.
        const QRect place(w->mapTo(window, QPoint(0, 0)), w->size());
        if (previous) {
            const QRect before(previous->mapTo(window, QPoint(0, 0)), previous->size());
            const bool sameLine = place.top() < before.bottom() && before.top() < place.bottom();
            QVERIFY2(sameLine ? place.left() > before.left() : place.top() >= before.bottom(),
                     qPrintable(said(previous, QAccessible::Name) + QStringLiteral(" > ") +
                                said(w, QAccessible::Name)));
        }
        previous = w;
    }
    QVERIFY(controls.size() > 10);
}

QTEST_MAIN(TestScreens)
#include "test_screens.moc"
