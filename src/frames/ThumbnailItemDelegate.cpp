#include "ThumbnailItemDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>

void ThumbnailItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const
{
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.icon = QIcon();
    background.features &= ~QStyleOptionViewItem::HasDecoration;
    background.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);
    const QPixmap pixmap = index.data(Qt::DecorationRole).value<QPixmap>();
    if (pixmap.isNull())
        return;
    const QSize size =
        pixmap.deviceIndependentSize().toSize().boundedTo(option.rect.size() - QSize(4, 4));
    const QSize shown = pixmap.deviceIndependentSize().toSize().scaled(size, Qt::KeepAspectRatio);
    QRect target(QPoint(0, 0), shown);
    target.moveCenter(option.rect.center());
    painter->drawPixmap(target, pixmap);
}

QSize ThumbnailItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const
{
    const QPixmap pixmap = index.data(Qt::DecorationRole).value<QPixmap>();
    if (pixmap.isNull())
        return QStyledItemDelegate::sizeHint(option, index);
    return pixmap.deviceIndependentSize().toSize() + QSize(8, 10);
}
