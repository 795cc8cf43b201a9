#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <functional>
#include <optional>

namespace FileManagerExtras {

// True only when something exists at the path (links followed) and it is a folder.
bool isDirectory(const QString& path);

// Creates the folder. Not recursive: the one folder, failing when the parent is missing
// or the path exists. Recursive: an existing folder is success and left untouched, an
// existing file is failure; missing parents are made first, each with the same
// permissions.
bool createDirectoryAtPath(const QString& path, std::optional<QFileDevice::Permissions> permissions,
                           bool recursive);

// The system's words for an errno value, e.g. "No space left on device".
QString systemError(int code);

// Writes all of data through the open file's descriptor and then to the disk, where a
// full disk may only show. Qt's own write turns a write that stops short (the disk filled
// up on the way) into "Unknown error"; this keeps the system's reason. Empty on success,
// else the reason.
QString writeAndSync(QFileDevice& file, const QByteArray& data);
// The same without the sync, for a file written piece by piece.
QString writeAll(QFileDevice& file, const char* data, qint64 size);

// Replaces the file at path by data in one step (QSaveFile). False leaves an old file as it
// was and puts the system's reason in *error.
bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error);
// The same with the contents written by `write` into the open temporary file (through
// writeAll); it gives the reason it failed, or an empty string. Synced before the rename.
bool writeFileAtomically(const QString& path, const std::function<QString(QFileDevice&)>& write,
                         QString* error);

} // namespace FileManagerExtras
