#pragma once

#include <QTableWidget>

#include <functional>

class QMimeData;

// The one-column table of frame thumbnails. The Delete and Backspace keys are swallowed on
// press and turned into deleteRequested() on release; drops from other applications are
// handed to the controller's two callbacks.
class ThumbnailTableView : public QTableWidget {
    Q_OBJECT
public:
    explicit ThumbnailTableView(QWidget* parent = nullptr);

    // validate: may this drag be dropped here? accept: carry the drop out, true when taken.
    using DropHandler = std::function<bool(const QMimeData*)>;
    void setDropHandlers(DropHandler validate, DropHandler accept);

    // Row currently selected, or -1.
    int selectedRow() const;

signals:
    void deleteRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;

private:
    bool acceptsDrag(QDropEvent* event) const;

    DropHandler _validateDrop;
    DropHandler _acceptDrop;
};
