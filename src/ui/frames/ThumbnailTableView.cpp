#include "ThumbnailTableView.h"

#include "ui/frames/ThumbnailItemDelegate.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPalette>
#include <QTimer>

ThumbnailTableView::ThumbnailTableView(QWidget* parent) : QTableView(parent)
{
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
    // Alpha frames show black where the photo goes; on a dark table their thumbnails would
    // vanish into it, on a white one their light borders would.
    QPalette shades = palette();
    shades.setColor(QPalette::Base, QColor(92, 92, 92));
    shades.setColor(QPalette::Text, QColor(238, 238, 238));
    setPalette(shades);
}

void ThumbnailTableView::setDropHandlers(DropHandler validate, DropHandler accept)
{
    _validateDrop = std::move(validate);
    _acceptDrop = std::move(accept);
}

void ThumbnailTableView::setRefusalHandlers(RefusalHandler why,
                                            std::function<void(const QString&)> explain)
{
    _refusal = std::move(why);
    _explain = std::move(explain);
}

void ThumbnailTableView::setPlaceholderText(const QString& text)
{
    if (_placeholder == text)
        return;
    _placeholder = text;
    viewport()->update();
}

void ThumbnailTableView::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    if ((model() && model()->rowCount() > 0) || _placeholder.isEmpty())
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(viewport()->rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
                     _placeholder);
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
    QTableView::keyPressEvent(event);
}

void ThumbnailTableView::keyReleaseEvent(QKeyEvent* event)
{
    if (isDeleteKey(event)) {
        event->accept();
        if (!event->isAutoRepeat())
            emit deleteRequested();
        return;
    }
    QTableView::keyReleaseEvent(event);
}

bool ThumbnailTableView::acceptsDrag(QDropEvent* event) const
{
    // A drag with a source object started inside this program.
    if (event->source() != nullptr)
        return false;
    return _validateDrop && _validateDrop(event->mimeData());
}

QString ThumbnailTableView::refusal(QDropEvent* event) const
{
    if (event->source() != nullptr || !_refusal)
        return {};
    return _refusal(event->mimeData());
}

void ThumbnailTableView::dragEnterEvent(QDragEnterEvent* event)
{
    if (acceptsDrag(event) || !refusal(event).isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void ThumbnailTableView::dragMoveEvent(QDragMoveEvent* event)
{
    if (acceptsDrag(event) || !refusal(event).isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void ThumbnailTableView::dropEvent(QDropEvent* event)
{
    if (!acceptsDrag(event)) {
        const QString why = refusal(event);
        event->ignore();
        // Told once the drop is over: the sheet would otherwise hold the other program's
        // drag until it is closed.
        if (!why.isEmpty() && _explain)
            QTimer::singleShot(0, this, [this, why] {
                if (_explain)
                    _explain(why);
            });
        return;
    }
    if (_acceptDrop && _acceptDrop(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void ThumbnailTableView::startDrag(Qt::DropActions) {}
