#include "CustomCursors.h"

#include "foundation/Resources.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <cmath>

namespace {

constexpr int kCursorSize = 16;

QCursor makeCursor(const QString& name, Qt::CursorShape fallback, qreal ratio)
{
    QSvgRenderer drawing(Resources::pathFor(name + QStringLiteral(".svg")));
    if (!drawing.isValid())
        return QCursor(fallback);
    const int side = int(std::lround(kCursorSize * ratio));
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    drawing.render(&painter, QRectF(0, 0, side, side));
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    // The hot spot is in points.
    return QCursor(pixmap, kCursorSize / 2, kCursorSize / 2);
}

const QCursor& cursorFor(const QString& name, Qt::CursorShape fallback, qreal ratio)
{
    // Keyed by hundredths: fractional scales such as 1.25 and 1.5 are common.
    static QHash<QString, QCursor> made;
    const QString key = name + QLatin1Char('@') + QString::number(std::lround(ratio * 100));
    auto found = made.find(key);
    if (found == made.end())
        found = made.insert(key, makeCursor(name, fallback, ratio > 0 ? ratio : 1.0));
    return *found;
}

} // namespace

namespace CustomCursors {

const QCursor& ztOpenHandCursor(qreal devicePixelRatio)
{
    return cursorFor(QStringLiteral("cursor_open_hand"), Qt::OpenHandCursor, devicePixelRatio);
}

const QCursor& ztClosedHandCursor(qreal devicePixelRatio)
{
    return cursorFor(QStringLiteral("cursor_closed_hand"), Qt::ClosedHandCursor, devicePixelRatio);
}

} // namespace CustomCursors
