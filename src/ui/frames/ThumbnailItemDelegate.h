#pragma once

#include <QStyledItemDelegate>

// A frame's row: its thumbnail at the left, centred in a box of its own so that the names
// line up, and its name beside it, over the usual selection look.
class ThumbnailItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
