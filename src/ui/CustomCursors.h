#pragma once

#include <QCursor>

// The program's own hand cursors, made from resources/cursor_*.svg with the hot spot at
// their centre (8, 8) and kept for the life of the process, one per screen density, so that
// a display at scale 2 gets a cursor drawn at 32 device pixels rather than one enlarged.
namespace CustomCursors {

const QCursor& ztOpenHandCursor(qreal devicePixelRatio = 1.0);
const QCursor& ztClosedHandCursor(qreal devicePixelRatio = 1.0);

} // namespace CustomCursors
