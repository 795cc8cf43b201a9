#include "ThumbnailItemDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>

namespace {

// Room kept for the name: the thumbnail takes what is left, up to its own size.
constexpr int NameWidth = 72;
constexpr int Gap = 8;
constexpr int Margin = 4;

QSize shownSize(const QPixmap& pixmap, const QRect& row)
{
    const QSize own = pixmap.deviceIndependentSize().toSize();
    const QSize box(std::max(row.width() - NameWidth - Gap - 2 * Margin, row.height()),
                    row.height() - 2 * Margin);
    return own.boundedTo(box) == own ? own : own.scaled(box, Qt::KeepAspectRatio);
}

} // namespace

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

    // The thumbnail at the left, the frame's name beside it.
    const QPixmap pixmap = index.data(Qt::DecorationRole).value<QPixmap>();
    QRect nameArea = option.rect.adjusted(Margin, 0, -Margin, 0);
    if (!pixmap.isNull()) {
        QRect target(QPoint(0, 0), shownSize(pixmap, option.rect));
        target.moveTopLeft(
            QPoint(option.rect.left() + Margin, option.rect.center().y() - target.height() / 2));
        painter->drawPixmap(target, pixmap);
        nameArea.setLeft(target.right() + 1 + Gap);
    }
    const QString name = index.data(Qt::DisplayRole).toString();
    if (name.isEmpty() || nameArea.width() <= 0)
        return;
    const bool selected = option.state & QStyle::State_Selected;
    painter->save();
    painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(option.font);
    painter->drawText(nameArea, Qt::AlignVCenter | Qt::AlignLeft,
                      option.fontMetrics.elidedText(name, Qt::ElideRight, nameArea.width()));
    painter->restore();
}

QSize ThumbnailItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const
{
    const QPixmap pixmap = index.data(Qt::DecorationRole).value<QPixmap>();
    if (pixmap.isNull())
        return QStyledItemDelegate::sizeHint(option, index);
    return pixmap.deviceIndependentSize().toSize() + QSize(NameWidth + Gap + 2 * Margin, 10);
}
