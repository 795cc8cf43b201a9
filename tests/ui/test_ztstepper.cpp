#include "ui/ZTStepper.h"

#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

namespace {

QPoint arrow(const ZTStepper& stepper, bool up)
{
    return QPoint(stepper.width() / 2, stepper.height() * (up ? 1 : 3) / 4);
}

void wheel(ZTStepper& stepper, int deltaY)
{
    const QPointF pos(stepper.width() / 2.0, stepper.height() / 2.0);
    QWheelEvent event(pos, stepper.mapToGlobal(pos), QPoint(), QPoint(0, deltaY), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&stepper, &event);
}

void setUp(ZTStepper& stepper, int minimum, int maximum, int start)
{
    stepper.setRange(minimum, maximum);
    stepper.setIncrement(5);
    stepper.setValue(start);
    stepper.resize(stepper.sizeHint());
    stepper.show();
}

} // namespace

class TestZTStepper : public QObject {
    Q_OBJECT
private slots:
    void gestures_data()
    {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("start");
        QTest::addColumn<QStringList>("gestures");
        QTest::addColumn<QList<int>>("steps"); // the value each notification carries

        const auto row = [](const char* name, int minimum, int maximum, int start,
                            const QStringList& gestures, const QList<int>& steps) {
            QTest::newRow(name) << minimum << maximum << start << gestures << steps;
        };
        row("wheel then click up", 1, 100, 87, {"wheelUp", "wheelDown", "wheelUp", "up"},
            {88, 87, 88, 90});
        row("wheel without vertical movement", 1, 100, 87, {"wheelNone"}, {});
        row("down at minimum", 3, 100, 3, {"down"}, {5});
        row("snap stays inside the range", 1, 98, 98, {"up"}, {98});
        row("wheel stops at maximum", 1, 100, 99, {"wheelUp", "wheelUp"}, {100, 100});
        row("arrow keys", 1, 100, 87, {"keyUp", "keyDown"}, {90, 85});
        row("disabled", 1, 100, 87, {"disable", "up", "down", "wheelUp", "keyUp"}, {});
    }
    void gestures()
    {
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, start);
        QFETCH(QStringList, gestures);
        QFETCH(QList<int>, steps);

        ZTStepper stepper;
        setUp(stepper, minimum, maximum, start);
        // Both notifications, in the order they arrive, with the value the first one carried.
        QStringList events;
        connect(&stepper, &ZTStepper::stepped,
                [&](int value) { events << QString::number(value); });
        connect(&stepper, &ZTStepper::targetActionRequested, [&] { events << "target"; });

        for (const QString& gesture : gestures) {
            if (gesture == "disable")
                stepper.setEnabled(false);
            else if (gesture == "up" || gesture == "down")
                QTest::mouseClick(&stepper, Qt::LeftButton, {}, arrow(stepper, gesture == "up"));
            else if (gesture.startsWith("wheel"))
                wheel(stepper, gesture == "wheelUp" ? 120 : gesture == "wheelDown" ? -120 : 0);
            else
                QTest::keyClick(&stepper, gesture == "keyUp" ? Qt::Key_Up : Qt::Key_Down);
        }
        QStringList expected;
        for (int value : steps)
            expected << QString::number(value) << "target";
        QCOMPARE(events, expected);
        QCOMPARE(stepper.value(), steps.isEmpty() ? start : steps.last());
    }
    void setValueClampsAndStaysQuiet()
    {
        ZTStepper stepper;
        stepper.setRange(1, 100);
        QSignalSpy stepped(&stepper, &ZTStepper::stepped);
        QSignalSpy changed(&stepper, &ZTStepper::valueChanged);
        stepper.setValue(250);
        QCOMPARE(stepper.value(), 100);
        stepper.setValue(-4);
        QCOMPARE(stepper.value(), 1);
        stepper.setIncrement(0);
        QCOMPARE(stepper.increment(), 1);
        stepper.setValue(50);
        stepper.setRange(60, 80);
        QCOMPARE(stepper.value(), 60);
        QCOMPARE(changed.size(), 4);
        QCOMPARE(stepped.size(), 0);
    }
    void holdingRepeatsThenSnapsOnce()
    {
        ZTStepper stepper;
        setUp(stepper, 1, 1000, 87);
        QSignalSpy stepped(&stepper, &ZTStepper::stepped);

        QTest::mousePress(&stepper, Qt::LeftButton, {}, arrow(stepper, true));
        QCOMPARE(stepper.value(), 92);
        // The repeat keeps stepping while the button is held; nothing is announced until it
        // comes up.
        QTRY_VERIFY(stepper.value() >= 102);
        QCOMPARE(stepped.size(), 0);
        QTest::mouseRelease(&stepper, Qt::LeftButton, {}, arrow(stepper, true));
        QCOMPARE(stepped.size(), 1);
        QCOMPARE(stepper.value() % 5, 0);
        const int released = stepper.value();
        QTest::qWait(50);
        QCOMPARE(stepper.value(), released);
    }
};

QTEST_MAIN(TestZTStepper)
#include "test_ztstepper.moc"
