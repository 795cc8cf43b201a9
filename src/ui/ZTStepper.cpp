#include "ui/ZTStepper.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWheelEvent>

ZTStepper::ZTStepper(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ZTStepper::setValue(int value)
{
    value = qBound(_minimum, value, _maximum);
    if (value == _value)
        return;
    _value = value;
    emit valueChanged(_value);
}

void ZTStepper::setRange(int minimum, int maximum)
{
    _minimum = minimum;
    _maximum = qMax(minimum, maximum);
    const int clamped = qBound(_minimum, _value, _maximum);
    if (clamped != _value) {
        _value = clamped;
        emit valueChanged(_value);
    }
}

void ZTStepper::setIncrement(int increment)
{
    _increment = qMax(1, increment);
}

int ZTStepper::snappedValue(int before, int value, int increment)
{
    const int k = qMax(1, increment);
    if (before < value)
        return (value / k) * k;
    return ((value + k - 1) / k) * k;
}

QSize ZTStepper::sizeHint() const
{
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int height = fontMetrics().height() + 2 * frame + 6;
    return QSize(qMax(15, height * 2 / 3), height);
}

QSize ZTStepper::minimumSizeHint() const
{
    return QSize(11, 16);
}

QRect ZTStepper::_arrowRect(Arrow arrow) const
{
    const int half = height() / 2;
    if (arrow == UpArrow)
        return QRect(0, 0, width(), half);
    if (arrow == DownArrow)
        return QRect(0, half, width(), height() - half);
    return QRect();
}

ZTStepper::Arrow ZTStepper::_arrowAt(const QPoint& pos) const
{
    if (_arrowRect(UpArrow).contains(pos))
        return UpArrow;
    if (_arrowRect(DownArrow).contains(pos))
        return DownArrow;
    return NoArrow;
}

void ZTStepper::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    for (Arrow arrow : {UpArrow, DownArrow}) {
        QStyleOptionButton button;
        button.initFrom(this);
        button.rect = _arrowRect(arrow);
        const bool sunken = _pressedArrow == arrow && _pressedInside;
        button.state |= sunken ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &button, &painter, this);

        QStyleOption indicator;
        indicator.initFrom(this);
        const int margin = qMax(2, button.rect.height() / 5);
        indicator.rect = button.rect.adjusted(margin, margin, -margin, -margin);
        if (sunken)
            indicator.state |= QStyle::State_Sunken;
        style()->drawPrimitive(arrow == UpArrow ? QStyle::PE_IndicatorArrowUp
                                                : QStyle::PE_IndicatorArrowDown,
                               &indicator, &painter, this);
    }
}

void ZTStepper::_step(int delta)
{
    setValue(_value + delta);
}

void ZTStepper::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || _pressedArrow != NoArrow) {
        event->ignore();
        return;
    }
    const Arrow arrow = _arrowAt(event->position().toPoint());
    if (arrow == NoArrow) {
        event->ignore();
        return;
    }
    _pressedArrow = arrow;
    _pressedInside = true;
    _valueBeforeClick = _value;
    _step(arrow == UpArrow ? _increment : -_increment);
    _repeatTimer.start(
        style()->styleHint(QStyle::SH_SpinBox_ClickAutoRepeatThreshold, nullptr, this), this);
    update();
    event->accept();
}

void ZTStepper::mouseMoveEvent(QMouseEvent* event)
{
    if (_pressedArrow == NoArrow)
        return;
    const bool inside = _arrowAt(event->position().toPoint()) == _pressedArrow;
    if (inside != _pressedInside) {
        _pressedInside = inside;
        update();
    }
}

void ZTStepper::mouseReleaseEvent(QMouseEvent* event)
{
    if (_pressedArrow == NoArrow || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    _finishClick();
    event->accept();
}

void ZTStepper::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != _repeatTimer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    _repeatTimer.start(style()->styleHint(QStyle::SH_SpinBox_ClickAutoRepeatRate, nullptr, this),
                       this);
    // Like a button, the stepper pauses while the pointer is off the pressed arrow.
    if (_pressedInside)
        _step(_pressedArrow == UpArrow ? _increment : -_increment);
}

void ZTStepper::_finishClick()
{
    _repeatTimer.stop();
    _pressedArrow = NoArrow;
    _pressedInside = false;
    update();
    setValue(snappedValue(_valueBeforeClick, _value, _increment));
    _notify();
}

void ZTStepper::changeEvent(QEvent* event)
{
    // Disabled in the middle of a press: the steps already taken still end like a click.
    if (event->type() == QEvent::EnabledChange && !isEnabled() && _pressedArrow != NoArrow)
        _finishClick();
    QWidget::changeEvent(event);
}

void ZTStepper::wheelEvent(QWheelEvent* event)
{
    const int delta = event->angleDelta().y();
    if (!isEnabled() || delta == 0) {
        event->ignore();
        return;
    }
    _step(delta > 0 ? 1 : -1);
    _notify();
    event->accept();
}

void ZTStepper::keyPressEvent(QKeyEvent* event)
{
    // The arrow keys act as a click on the matching arrow, for keyboard users.
    if ((event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) && _pressedArrow == NoArrow) {
        _valueBeforeClick = _value;
        _step(event->key() == Qt::Key_Up ? _increment : -_increment);
        setValue(snappedValue(_valueBeforeClick, _value, _increment));
        _notify();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ZTStepper::_notify()
{
    emit stepped(_value);
    emit targetActionRequested();
}
