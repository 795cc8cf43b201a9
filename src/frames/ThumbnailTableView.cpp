#include "ThumbnailTableView.h"

#include "frames/ThumbnailItemDelegate.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QPalette>

ThumbnailTableView::ThumbnailTableView(QWidget* parent) : QTableWidget(parent)
{
    setColumnCount(1);
    horizontalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(58);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Frames come in from other programs only; nothing is dragged out of the table.
    setDragEnabled(false);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DropOnly);
    setItemDelegate(new ThumbnailItemDelegate(this));
    // Mask frames are white on black in their thumbnails; on a white table their borders
    // would vanish into the background.
    QPalette shades = palette();
    shades.setColor(QPalette::Base, QColor(92, 92, 92));
    setPalette(shades);
}

void ThumbnailTableView::setDropHandlers(DropHandler validate, DropHandler accept)
{
    _validateDrop = std::move(validate);
    _acceptDrop = std::move(accept);
}

int ThumbnailTableView::selectedRow() const
{
    const QModelIndexList rows =
        selectionModel() ? selectionModel()->selectedRows() : QModelIndexList();
    return rows.isEmpty() ? -1 : rows.first().row();
}

namespace {
bool isDeleteKey(const QKeyEvent* event)
{
    return event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete;
}
} // namespace

void ThumbnailTableView::keyPressEvent(QKeyEvent* event)
{
    if (isDeleteKey(event)) {
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

void ThumbnailTableView::keyReleaseEvent(QKeyEvent* event)
{
    if (isDeleteKey(event)) {
        event->accept();
        if (!event->isAutoRepeat())
            emit deleteRequested();
        return;
    }
    QTableWidget::keyReleaseEvent(event);
}

bool ThumbnailTableView::acceptsDrag(QDropEvent* event) const
{
    // A drag with a source object started inside this program.
    if (event->source() != nullptr)
        return false;
    return _validateDrop && _validateDrop(event->mimeData());
}

void ThumbnailTableView::dragEnterEvent(QDragEnterEvent* event)
{
    if (acceptsDrag(event)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void ThumbnailTableView::dragMoveEvent(QDragMoveEvent* event)
{
    if (acceptsDrag(event)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void ThumbnailTableView::dropEvent(QDropEvent* event)
{
    if (acceptsDrag(event) && _acceptDrop && _acceptDrop(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void ThumbnailTableView::startDrag(Qt::DropActions) {}
