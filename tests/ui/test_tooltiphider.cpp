#include "ui/ToolTipHider.h"

#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"

#include <QApplication>
#include <QHelpEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QWidget>

namespace {

class ToolTipCounter : public QWidget {
public:
    int toolTips = 0;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::ToolTip)
            ++toolTips;
        return QWidget::event(event);
    }
};

void askForToolTip(QWidget& widget)
{
    QHelpEvent event(QEvent::ToolTip, QPoint(5, 5), widget.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&widget, &event);
}

} // namespace

class TestToolTipHider : public QObject {
    Q_OBJECT
private slots:
    void followsTheSetting();
};

void TestToolTipHider::followsTheSetting()
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("Velluma.plist"));
    defaults.registerDefaults({{DefHideToolTips, false}});
    // Set at launch: hidden from the start.
    defaults.setBool(true, DefHideToolTips);
    ToolTipHider hider(defaults);
    qApp->installEventFilter(&hider);

    ToolTipCounter widget;
    widget.setToolTip("Drop a photo here");
    widget.resize(50, 50);
    widget.show();
    askForToolTip(widget);
    QCOMPARE(widget.toolTips, 0);

    for (bool hide : {false, true}) {
        defaults.setBool(hide, DefHideToolTips);
        askForToolTip(widget);
        QCOMPARE(widget.toolTips, 1);
    }

    // Turning it on also takes down a tooltip that is up at that moment.
    defaults.setBool(false, DefHideToolTips);
    QToolTip::showText(widget.mapToGlobal(QPoint(5, 5)), "Drop a photo here", &widget);
    QVERIFY(QToolTip::isVisible());
    defaults.setBool(true, DefHideToolTips);
    QTRY_VERIFY(!QToolTip::isVisible());

    qApp->removeEventFilter(&hider);
}

QTEST_MAIN(TestToolTipHider)
#include "test_tooltiphider.moc"
