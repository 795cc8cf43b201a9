#include "ui/ZTStepper.h"

#include <QTest>
#include <QWheelEvent>

namespace {

QPoint arrow(const ZTStepper& stepper, bool up)
{
    return QPoint(stepper.width() / 2, stepper.height() * (up ? 1 : 3) / 4);
}

struct Gestures {
    int minimum, maximum, start;
    QStringList gestures;
    QList<int> steps; // the value each notification carries
    int value;
};

} // namespace

class TestZTStepper : public QObject {
    Q_OBJECT
private slots:
    void gestures_data()
    {
        QTest::addColumn<Gestures>("c");
        QTest::newRow("wheel then click up") << Gestures{
            1, 100, 87, {"wheelUp", "wheelDown", "wheelUp", "up"}, {88, 87, 88, 90}, 90};
        QTest::newRow("wheel without vertical movement")
            << Gestures{1, 100, 87, {"wheelNone"}, {}, 87};
        QTest::newRow("down at minimum") << Gestures{3, 100, 3, {"down"}, {5}, 5};
        QTest::newRow("snap stays inside the range") << Gestures{1, 98, 98, {"up"}, {98}, 98};
        QTest::newRow("wheel stops at maximum")
            << Gestures{1, 100, 99, {"wheelUp", "wheelUp"}, {100, 100}, 100};
        QTest::newRow("arrow keys") << Gestures{1, 100, 87, {"keyUp", "keyDown"}, {90, 85}, 85};
        QTest::newRow("disabled") << Gestures{
            1, 100, 87, {"disable", "up", "down", "wheelUp", "keyUp"}, {}, 87};
        // Values set by the program are kept in range and never announced as a step.
        QTest::newRow("set above the range") << Gestures{1, 100, 87, {"set250"}, {}, 100};
        QTest::newRow("set below the range") << Gestures{1, 100, 87, {"set-4"}, {}, 1};
        QTest::newRow("range moved past the value") << Gestures{1, 100, 50, {"range"}, {}, 60};
        // -1: wherever the repeat got to, snapped to the increment once the button is up.
        QTest::newRow("held down") << Gestures{1, 1000, 87, {"hold"}, {-1}, -1};
    }
    void gestures()
    {
        QFETCH(const Gestures, c);
        ZTStepper stepper;
        stepper.setRange(c.minimum, c.maximum);
        stepper.setIncrement(5);
        stepper.setValue(c.start);
        stepper.resize(stepper.sizeHint());
        stepper.show();
        // Both notifications, in the order they arrive, with the value the first one carried.
        QStringList events;
        connect(&stepper, &ZTStepper::stepped,
                [&](int value) { events << QString::number(value); });
        connect(&stepper, &ZTStepper::targetActionRequested, [&] { events << "target"; });
        const QPointF middle(stepper.width() / 2.0, stepper.height() / 2.0);
        for (const QString& gesture : c.gestures) {
            const int wheel = gesture == "wheelUp" ? 120 : gesture == "wheelDown" ? -120 : 0;
            QWheelEvent event(middle, stepper.mapToGlobal(middle), QPoint(), QPoint(0, wheel),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            if (gesture == "disable")
                stepper.setEnabled(false);
            else if (gesture == "range")
                stepper.setRange(60, 80);
            else if (gesture.startsWith("set"))
                stepper.setValue(gesture.mid(3).toInt());
            else if (gesture == "up" || gesture == "down")
                QTest::mouseClick(&stepper, Qt::LeftButton, {}, arrow(stepper, gesture == "up"));
            else if (gesture == "hold") {
                // The repeat keeps stepping while the button is held, and stops when it is up.
                QTest::mousePress(&stepper, Qt::LeftButton, {}, arrow(stepper, true));
                QTRY_VERIFY(stepper.value() >= 102 && events.isEmpty());
                QTest::mouseRelease(&stepper, Qt::LeftButton, {}, arrow(stepper, true));
                const int released = stepper.value();
                QVERIFY(!QTest::qWaitFor([&] { return stepper.value() != released; }, 50));
            } else if (gesture.startsWith("wheel"))
                QApplication::sendEvent(&stepper, &event);
            else
                QTest::keyClick(&stepper, gesture == "keyUp" ? Qt::Key_Up : Qt::Key_Down);
        }
        QStringList expected;
        for (int value : c.steps)
            expected << QString::number(value < 0 ? stepper.value() : value) << "target";
        QCOMPARE(events, expected);
        QCOMPARE(stepper.value(), c.value < 0 ? stepper.value() / 5 * 5 : c.value);
    }
};

QTEST_MAIN(TestZTStepper)
#include "test_ztstepper.moc"
