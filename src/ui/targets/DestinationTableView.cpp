#include "DestinationTableView.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>

DestinationTableView::DestinationTableView(QWidget* parent) : QTableView(parent) {}

bool DestinationTableView::askForCopy(QDropEvent* event)
{
    if (!event->mimeData() || !event->mimeData()->hasUrls())
        return true;
    if (!(event->possibleActions() & Qt::CopyAction))
        return false;
    event->setDropAction(Qt::CopyAction);
    return true;
}

void DestinationTableView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!askForCopy(event)) {
        event->ignore();
        return;
    }
    QTableView::dragEnterEvent(event);
    // The base class accepts the proposed action, which may be a move.
    if (event->isAccepted())
        askForCopy(event);
}

void DestinationTableView::dragMoveEvent(QDragMoveEvent* event)
{
    if (!askForCopy(event)) {
        event->ignore();
        return;
    }
    QTableView::dragMoveEvent(event);
    if (event->isAccepted())
        askForCopy(event);
}

void DestinationTableView::dropEvent(QDropEvent* event)
{
    if (!askForCopy(event)) {
        event->ignore();
        return;
    }
    QTableView::dropEvent(event);
    if (event->isAccepted())
        askForCopy(event);
}
