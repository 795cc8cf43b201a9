#pragma once

#include <QList>
#include <QWidget>

class QAction;
class QComboBox;
class ThumbnailTableView;

// The side panel's widgets: the collection pop-up ("collectionPopUp") over the thumbnail
// table ("thumbnailTable"), with tool buttons below. The wheel does nothing over the
// pop-up: scrolling the panel would step through its items and run the collection
// commands at the end of the list.
class FramePanel : public QWidget {
    Q_OBJECT
public:
    // tableActions make the table's context menu, buttonActions the tool buttons.
    FramePanel(const QList<QAction*>& tableActions, const QList<QAction*>& buttonActions);

    QComboBox* popUp() const { return _popUp; }
    ThumbnailTableView* table() const { return _table; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QComboBox* _popUp = nullptr;
    ThumbnailTableView* _table = nullptr;
};
