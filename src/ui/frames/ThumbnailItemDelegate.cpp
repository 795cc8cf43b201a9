#include "ThumbnailItemDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

namespace {

// Thumbnails sit centred in a box of this width, so that the names line up beside them; a
// wider one is reduced to fit, as is the box when the row leaves the name too little room.
constexpr int ThumbnailBox = 96;
constexpr int NameWidth = 72;
constexpr int Gap = 8;
constexpr int Margin = 4;

QRect thumbnailBox(const QRect& row)
{
    const int width = std::clamp(row.width() - NameWidth - Gap - 2 * Margin, 16, ThumbnailBox);
    return QRect(row.left() + Margin, row.top() + Margin, width, row.height() - 2 * Margin);
}

// Models below the widget layer hand out images; a pixmap is taken as it is.
QPixmap thumbnailOf(const QModelIndex& index)
{
    const QVariant thumbnail = index.data(Qt::DecorationRole);
    if (thumbnail.typeId() == QMetaType::QImage)
        return QPixmap::fromImage(thumbnail.value<QImage>());
    return thumbnail.value<QPixmap>();
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
    const QPixmap pixmap = thumbnailOf(index);
    const QRect box = thumbnailBox(option.rect);
    if (!pixmap.isNull()) {
        const QSize own = pixmap.deviceIndependentSize().toSize();
        QRect target(QPoint(0, 0), own.boundedTo(box.size()) == own
                                       ? own
                                       : own.scaled(box.size(), Qt::KeepAspectRatio));
        target.moveCenter(box.center());
        // Made for the sharpest screen: reduced smoothly on the others.
        painter->save();
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->drawPixmap(target, pixmap);
        painter->restore();
    }
    QRect nameArea = option.rect.adjusted(Margin, 0, -Margin, 0);
    nameArea.setLeft(box.right() + 1 + Gap);
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
    const QPixmap pixmap = thumbnailOf(index);
    if (pixmap.isNull())
        return QStyledItemDelegate::sizeHint(option, index);
    return QSize(ThumbnailBox + NameWidth + Gap + 2 * Margin,
                 pixmap.deviceIndependentSize().toSize().height() + 10);
}
