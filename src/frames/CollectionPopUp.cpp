#include "CollectionPopUp.h"

#include <QSignalBlocker>
#include <QWheelEvent>

void CollectionPopUp::setKeySelectable(std::function<bool(int row)> selectable)
{
    _keySelectable = std::move(selectable);
}

void CollectionPopUp::keyPressEvent(QKeyEvent* event)
{
    const int from = currentIndex();
    {
        // The step is judged first; only an allowed one is reported.
        const QSignalBlocker blocker(this);
        QComboBox::keyPressEvent(event);
    }
    const int to = currentIndex();
    if (to == from)
        return;
    if (_keySelectable && !_keySelectable(to)) {
        const QSignalBlocker blocker(this);
        setCurrentIndex(from);
        return;
    }
    emit currentIndexChanged(to);
    emit currentTextChanged(currentText());
    emit activated(to);
    emit textActivated(currentText());
}

void CollectionPopUp::wheelEvent(QWheelEvent* event)
{
    event->ignore();
}
