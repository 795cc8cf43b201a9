#include "ui/ZTStepper.h"

#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

namespace {

QPoint upArrow(const ZTStepper& stepper)
{
    return QPoint(stepper.width() / 2, stepper.height() / 4);
}

QPoint downArrow(const ZTStepper& stepper)
{
    return QPoint(stepper.width() / 2, stepper.height() * 3 / 4);
}

void wheel(ZTStepper& stepper, int deltaY)
{
    const QPointF pos(stepper.width() / 2.0, stepper.height() / 2.0);
    QWheelEvent event(pos, stepper.mapToGlobal(pos), QPoint(), QPoint(0, deltaY), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&stepper, &event);
}

// Records the two notifications in the order they arrive, with the value each saw.
struct Recorder {
    QStringList events;
    explicit Recorder(ZTStepper& stepper)
    {
        QObject::connect(&stepper, &ZTStepper::stepped,
                         [this](int value) { events << QStringLiteral("stepped %1").arg(value); });
        QObject::connect(&stepper, &ZTStepper::targetActionRequested,
                         [this] { events << QStringLiteral("target"); });
    }
};

} // namespace

class TestZTStepper : public QObject {
    Q_OBJECT
private slots:
    void snapping_data();
    void snapping();
    void gestures_data();
    void gestures();
    void notifiesStepperThenTarget();
    void disabledDoesNothing();
    void setValueClampsAndStaysQuiet();
    void holdingRepeatsThenSnapsOnce();
};

void TestZTStepper::snapping_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    QTest::addColumn<int>("increment");
    QTest::addColumn<int>("snapped");

    QTest::newRow("up rounds down") << 87 << 92 << 5 << 90;
    QTest::newRow("down rounds up") << 87 << 82 << 5 << 85;
    QTest::newRow("unchanged rounds up") << 3 << 3 << 5 << 5;
    QTest::newRow("multiple stays") << 5 << 5 << 5 << 5;
    QTest::newRow("up onto multiple") << 85 << 90 << 5 << 90;
    QTest::newRow("increment one") << 41 << 42 << 1 << 42;
    QTest::newRow("increment zero acts as one") << 41 << 40 << 0 << 40;
}

void TestZTStepper::snapping()
{
    QFETCH(int, before);
    QFETCH(int, after);
    QFETCH(int, increment);
    QFETCH(int, snapped);
    QCOMPARE(ZTStepper::snappedValue(before, after, increment), snapped);
}

void TestZTStepper::gestures_data()
{
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("start");
    QTest::addColumn<QStringList>("gestures");
    QTest::addColumn<QList<int>>("values"); // after each gesture

    QTest::newRow("click up") << 1 << 100 << 87 << QStringList{"up"} << QList<int>{90};
    QTest::newRow("click down") << 1 << 100 << 87 << QStringList{"down"} << QList<int>{85};
    QTest::newRow("wheel then click up")
        << 1 << 100 << 87 << QStringList{"wheelUp", "up"} << QList<int>{88, 90};
    QTest::newRow("wheel down no snap")
        << 1 << 100 << 87 << QStringList{"wheelDown", "wheelDown"} << QList<int>{86, 85};
    QTest::newRow("down at minimum") << 3 << 100 << 3 << QStringList{"down"} << QList<int>{5};
    QTest::newRow("down at minimum on a multiple")
        << 5 << 100 << 5 << QStringList{"down"} << QList<int>{5};
    QTest::newRow("up at maximum") << 1 << 100 << 100 << QStringList{"up"} << QList<int>{100};
    QTest::newRow("snap stays inside the range")
        << 1 << 98 << 98 << QStringList{"up"} << QList<int>{98};
    QTest::newRow("wheel stops at maximum")
        << 1 << 100 << 99 << QStringList{"wheelUp", "wheelUp"} << QList<int>{100, 100};
    QTest::newRow("arrow keys") << 1 << 100 << 87 << QStringList{"keyUp", "keyDown"}
                                << QList<int>{90, 85};
}

void TestZTStepper::gestures()
{
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, start);
    QFETCH(QStringList, gestures);
    QFETCH(QList<int>, values);

    ZTStepper stepper;
    stepper.setRange(minimum, maximum);
    stepper.setIncrement(5);
    stepper.setValue(start);
    stepper.resize(stepper.sizeHint());
    stepper.show();
    QSignalSpy stepped(&stepper, &ZTStepper::stepped);
    QSignalSpy target(&stepper, &ZTStepper::targetActionRequested);

    for (int i = 0; i < gestures.size(); ++i) {
        const QString& gesture = gestures[i];
        if (gesture == "up")
            QTest::mouseClick(&stepper, Qt::LeftButton, {}, upArrow(stepper));
        else if (gesture == "down")
            QTest::mouseClick(&stepper, Qt::LeftButton, {}, downArrow(stepper));
        else if (gesture == "wheelUp")
            wheel(stepper, 120);
        else if (gesture == "wheelDown")
            wheel(stepper, -120);
        else if (gesture == "keyUp")
            QTest::keyClick(&stepper, Qt::Key_Up);
        else if (gesture == "keyDown")
            QTest::keyClick(&stepper, Qt::Key_Down);
        QCOMPARE(stepper.value(), values[i]);
        QCOMPARE(stepped.size(), i + 1);
        QCOMPARE(stepped.last().first().toInt(), values[i]);
        QCOMPARE(target.size(), i + 1);
    }
}

void TestZTStepper::notifiesStepperThenTarget()
{
    ZTStepper stepper;
    stepper.setRange(1, 100);
    stepper.setIncrement(5);
    stepper.setValue(87);
    stepper.resize(stepper.sizeHint());
    stepper.show();
    Recorder recorder(stepper);
    QTest::mouseClick(&stepper, Qt::LeftButton, {}, upArrow(stepper));
    wheel(stepper, 120);
    QCOMPARE(recorder.events, (QStringList{"stepped 90", "target", "stepped 91", "target"}));

    // A wheel event without vertical movement is no step.
    wheel(stepper, 0);
    QCOMPARE(recorder.events.size(), 4);
}

void TestZTStepper::disabledDoesNothing()
{
    ZTStepper stepper;
    stepper.setRange(1, 100);
    stepper.setIncrement(5);
    stepper.setValue(87);
    stepper.resize(stepper.sizeHint());
    stepper.show();
    stepper.setEnabled(false);
    QSignalSpy stepped(&stepper, &ZTStepper::stepped);
    QSignalSpy target(&stepper, &ZTStepper::targetActionRequested);
    QSignalSpy changed(&stepper, &ZTStepper::valueChanged);

    QTest::mouseClick(&stepper, Qt::LeftButton, {}, upArrow(stepper));
    QTest::mouseClick(&stepper, Qt::LeftButton, {}, downArrow(stepper));
    wheel(stepper, 120);
    QTest::keyClick(&stepper, Qt::Key_Up);

    QCOMPARE(stepper.value(), 87);
    QCOMPARE(stepped.size(), 0);
    QCOMPARE(target.size(), 0);
    QCOMPARE(changed.size(), 0);
}

void TestZTStepper::setValueClampsAndStaysQuiet()
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

void TestZTStepper::holdingRepeatsThenSnapsOnce()
{
    ZTStepper stepper;
    stepper.setRange(1, 1000);
    stepper.setIncrement(5);
    stepper.setValue(87);
    stepper.resize(stepper.sizeHint());
    stepper.show();
    QSignalSpy stepped(&stepper, &ZTStepper::stepped);

    QTest::mousePress(&stepper, Qt::LeftButton, {}, upArrow(stepper));
    QCOMPARE(stepper.value(), 92);
    // The platform's own repeat keeps stepping while the button is held; nothing is
    // announced until it comes up.
    QTRY_VERIFY(stepper.value() >= 102);
    QCOMPARE(stepped.size(), 0);
    QTest::mouseRelease(&stepper, Qt::LeftButton, {}, upArrow(stepper));
    QCOMPARE(stepped.size(), 1);
    QCOMPARE(stepper.value() % 5, 0);
    QVERIFY(stepper.value() >= 100);
    const int released = stepper.value();
    QTest::qWait(50);
    QCOMPARE(stepper.value(), released);
}

QTEST_MAIN(TestZTStepper)
#include "test_ztstepper.moc"
