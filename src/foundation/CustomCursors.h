#pragma once

#include <QCursor>

// The program's own hand cursors, made once from resources/cursor_*.svg with the hot spot
// at their centre (8, 8) and kept for the life of the process.
namespace CustomCursors {

const QCursor& ztOpenHandCursor();
const QCursor& ztClosedHandCursor();

} // namespace CustomCursors
