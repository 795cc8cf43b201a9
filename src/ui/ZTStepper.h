#pragma once

#include <QBasicTimer>
#include <QWidget>

// The small up/down arrow pair beside a number field. A click steps by the increment
// (repeating while the button is held) and then snaps the value to a multiple of the
// increment; the wheel steps by one without snapping. After every click or wheel step it
// emits stepped() (its own action) and then targetActionRequested() (the action of the
// control it serves, e.g. the quality field's).
class ZTStepper : public QWidget {
    Q_OBJECT
public:
    explicit ZTStepper(QWidget* parent = nullptr);

    int value() const { return _value; }
    // Clamped to the range; emits valueChanged() only, never the two actions.
    void setValue(int value);
    int minimum() const { return _minimum; }
    int maximum() const { return _maximum; }
    void setRange(int minimum, int maximum);
    int increment() const { return _increment; }
    void setIncrement(int increment); // at least 1

    // The snapped value after a click that took the value from before to value.
    static int snappedValue(int before, int value, int increment);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // Every change of the value, also the intermediate ones while an arrow is held.
    void valueChanged(int value);
    void stepped(int value);
    void targetActionRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum Arrow { NoArrow, UpArrow, DownArrow };
    Arrow _arrowAt(const QPoint& pos) const;
    QRect _arrowRect(Arrow arrow) const;
    void _step(int delta);
    void _finishClick();
    void _notify();

    int _value = 0;
    int _minimum = 0;
    int _maximum = 99;
    int _increment = 1;

    Arrow _pressedArrow = NoArrow;
    bool _pressedInside = false;
    int _valueBeforeClick = 0;
    QBasicTimer _repeatTimer;
};
