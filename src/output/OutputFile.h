#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Puts finished file data at its place in one step: written to a hidden file beside it
// first, then moved over. Without replace, an existing file at the path (even one that
// appears while we write) is never touched and the call fails.
namespace OutputFile {

enum class Result { Written, Exists, Failed };

// path: the name as the file system is to hold it; its folder's name decodes as Qt spells it.
// stillWanted, when given, is asked once the data is written and just before the move; a
// no there leaves nothing behind (Failed).
Result place(const QByteArray& path, const QByteArray& data, bool replace, QString* error,
             const std::function<bool()>& stillWanted = {});

// Ctrl-C or a termination signal removes the hidden files still being written before the
// program ends.
void installInterruptCleanup();

// Removes the hidden files a run killed outright (SIGKILL, a power cut) left in the folder:
// those whose writing process on this machine is gone.
void removeStale(const QString& folder);

// The process's umask, read once at start before any thread runs: files get the
// permissions an ordinary new file would have.
void captureUmask();

} // namespace OutputFile
