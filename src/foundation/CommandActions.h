#pragma once

#include <QList>

class QAction;
class QObject;

// Actions made from the command table's rows: the feature that runs a command makes its
// action here and connects it itself; the window finds it by its object name, the
// command's identifier.
namespace CommandActions {

// The action of the command of that identifier with its texts, keys and icon; null for an
// identifier the table does not know.
QAction* make(const char* identifier, QObject* parent);

} // namespace CommandActions
