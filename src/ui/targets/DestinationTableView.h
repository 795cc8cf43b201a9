#pragma once

#include <QTableView>

// The setup sheet's table. Files dropped from a file manager are only named in the list,
// so a drop of files is always a copy, whatever the source proposes: a source told "moved"
// may delete what it dragged. A source that offers no copy is refused.
class DestinationTableView : public QTableView {
    Q_OBJECT
public:
    explicit DestinationTableView(QWidget* parent = nullptr);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // False when the files cannot be copied; otherwise the event asks for a copy.
    static bool askForCopy(QDropEvent* event);
};
