#include "CustomCursors.h"

#include "Resources.h"

#include <QPixmap>

namespace {
QCursor makeCursor(const QString& name, Qt::CursorShape fallback)
{
    const QPixmap pixmap(Resources::pathFor(name + QStringLiteral(".svg")));
    if (pixmap.isNull())
        return QCursor(fallback);
    return QCursor(pixmap.scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation), 8, 8);
}
} // namespace

namespace CustomCursors {

const QCursor& ztOpenHandCursor()
{
    static const QCursor cursor =
        makeCursor(QStringLiteral("cursor_open_hand"), Qt::OpenHandCursor);
    return cursor;
}

const QCursor& ztClosedHandCursor()
{
    static const QCursor cursor =
        makeCursor(QStringLiteral("cursor_closed_hand"), Qt::ClosedHandCursor);
    return cursor;
}

} // namespace CustomCursors
