#pragma once

#include <QComboBox>

#include <functional>

// The collection pop-up. A closed QComboBox steps through its items on the arrow keys and
// on typed letters and reports every step as activated(); at the end of the list that
// would run the collection commands. Here a key selects only the rows the filter allows
// and stays put otherwise; the other rows run only when picked from the open list. The
// wheel does nothing: scrolling the panel is no choice of a frame set.
class CollectionPopUp : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;

    void setKeySelectable(std::function<bool(int row)> selectable);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    std::function<bool(int)> _keySelectable;
};
