#pragma once

#include <QFileDevice>
#include <QString>

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

} // namespace FileManagerExtras
