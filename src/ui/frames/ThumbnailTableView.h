#pragma once

#include <QTableView>

#include <functional>

class QMimeData;

// The one-column table of frame thumbnails, one row per frame of its model. The Delete and
// Backspace keys are swallowed on press and turned into deleteRequested() on release; drops from
// other applications are handed to the controller's two callbacks.
class ThumbnailTableView : public QTableView {
    Q_OBJECT
public:
    explicit ThumbnailTableView(QWidget* parent = nullptr);

    // validate: may this drag be dropped here? accept: carry the drop out, true when taken.
    using DropHandler = std::function<bool(const QMimeData*)>;
    void setDropHandlers(DropHandler validate, DropHandler accept);
    // Why a drag that validate refuses would be refused, or empty when there is nothing to
    // tell. Such a drag is taken, so that its drop can say why instead of doing nothing;
    // explain says it.
    using RefusalHandler = std::function<QString(const QMimeData*)>;
    void setRefusalHandlers(RefusalHandler why, std::function<void(const QString&)> explain);

    // Shown across the empty table (an empty frame set), none when empty.
    void setPlaceholderText(const QString& text);
    QString placeholderText() const { return _placeholder; }

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
    void paintEvent(QPaintEvent* event) override;

private:
    bool acceptsDrag(QDropEvent* event) const;
    QString refusal(QDropEvent* event) const;

    DropHandler _validateDrop;
    DropHandler _acceptDrop;
    RefusalHandler _refusal;
    std::function<void(const QString&)> _explain;
    QString _placeholder;
};
