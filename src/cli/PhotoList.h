#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The photos of a run: those given as arguments, then those of a list file, as the file
// system names them; and the part of them one of several runs frames.
namespace PhotoList {

// Appends the names listed in file ("-": standard input), one a line or, with nul, each
// ending in a NUL byte so that a name may hold a newline. Empty names are passed over.
bool read(const QString& file, bool nul, QList<QByteArray>* names, QString* error);

// The names at positions index, index + count, index + 2 * count...: count runs with the
// same list frame every photo once between them, and each a similar share.
QList<QByteArray> shard(const QList<QByteArray>& names, int index, int count);

} // namespace PhotoList
