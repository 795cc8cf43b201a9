#pragma once

#include <QList>
#include <QWidget>

class QAction;
class CollectionPopUp;
class ThumbnailTableView;

// The side panel's widgets: the collection pop-up ("collectionPopUp") over the thumbnail
// table ("thumbnailTable"), with tool buttons below.
class FramePanel : public QWidget {
    Q_OBJECT
public:
    // tableActions make the table's context menu, buttonActions the tool buttons.
    FramePanel(const QList<QAction*>& tableActions, const QList<QAction*>& buttonActions);

    CollectionPopUp* popUp() const { return _popUp; }
    ThumbnailTableView* table() const { return _table; }

private:
    CollectionPopUp* _popUp = nullptr;
    ThumbnailTableView* _table = nullptr;
};
