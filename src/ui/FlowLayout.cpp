#include "ui/FlowLayout.h"

#include <QWidget>

#include <algorithm>

FlowLayout::FlowLayout(QWidget* parent, int horizontalSpacing, int verticalSpacing)
    : QLayout(parent), _horizontalSpacing(horizontalSpacing), _verticalSpacing(verticalSpacing)
{
}

FlowLayout::~FlowLayout()
{
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

void FlowLayout::addItem(QLayoutItem* item)
{
    _items.append(item);
}

int FlowLayout::count() const
{
    return int(_items.size());
}

QLayoutItem* FlowLayout::itemAt(int index) const
{
    return index >= 0 && index < _items.size() ? _items.at(index) : nullptr;
}

QLayoutItem* FlowLayout::takeAt(int index)
{
    return index >= 0 && index < _items.size() ? _items.takeAt(index) : nullptr;
}

Qt::Orientations FlowLayout::expandingDirections() const
{
    return {};
}

bool FlowLayout::hasHeightForWidth() const
{
    return true;
}

int FlowLayout::heightForWidth(int width) const
{
    return _layOut(QRect(0, 0, width, 0), false);
}

QSize FlowLayout::minimumSize() const
{
    // Wide enough for the widest item and for about three lines in all: narrower, the
    // lines would take the height the window's other views need.
    QSize size;
    for (const QLayoutItem* item : _items)
        size = size.expandedTo(item->minimumSize());
    size.setWidth(std::max(size.width(), sizeHint().width() / 3));
    const QMargins margins = contentsMargins();
    return size + QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

QSize FlowLayout::sizeHint() const
{
    // All on one line.
    int width = 0;
    int height = 0;
    for (const QLayoutItem* item : _items) {
        if (item->isEmpty())
            continue;
        width += (width > 0 ? _horizontalSpacing : 0) + item->sizeHint().width();
        height = std::max(height, item->sizeHint().height());
    }
    const QMargins margins = contentsMargins();
    return QSize(width + margins.left() + margins.right(),
                 height + margins.top() + margins.bottom());
}

void FlowLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    _layOut(rect, true);
}

int FlowLayout::_layOut(const QRect& rect, bool apply) const
{
    const QRect area = rect.marginsRemoved(contentsMargins());
    int x = area.x();
    int y = area.y();
    int lineHeight = 0;
    // Items of one line share its height and are centred in it.
    QList<std::pair<QLayoutItem*, QRect>> line;
    auto finishLine = [&] {
        for (auto& [item, place] : line) {
            place.moveTop(y + (lineHeight - place.height()) / 2);
            if (apply)
                item->setGeometry(place);
        }
        line.clear();
    };
    for (QLayoutItem* item : _items) {
        if (item->isEmpty())
            continue;
        const QSize hint = item->sizeHint().boundedTo(QSize(area.width(), QWIDGETSIZE_MAX));
        if (x > area.x() && x + hint.width() > area.right() + 1) {
            finishLine();
            x = area.x();
            y += lineHeight + _verticalSpacing;
            lineHeight = 0;
        }
        line.append({item, QRect(QPoint(x, y), hint)});
        x += hint.width() + _horizontalSpacing;
        lineHeight = std::max(lineHeight, hint.height());
    }
    finishLine();
    const QMargins margins = contentsMargins();
    return y + lineHeight - rect.y() + margins.bottom();
}
