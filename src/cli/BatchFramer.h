#pragma once

#include "FramerOptions.h"

#include <QImage>
#include <QList>
#include <QString>

class ProgressReporter;

// Frames every photo of a run with the same frame and settings, several at once, and
// reports each one. A failing photo never stops the others.
class BatchFramer {
public:
    explicit BatchFramer(const FramerOptions& options);

    // Loads the frame (and its post mask); false with a message when it cannot be used.
    bool loadFrame(QString* error);
    // Frames the batch; the program's exit status: 0 all written, 1 some failed.
    int run(bool showProgressBar);

    // "<folder>/<photo's base name>.<format's extension>"
    static QString outputPathFor(const QString& photo, const QString& folder, int format);

private:
    struct Task {
        QString photo;
        QString output;
        QString refusal; // set when the photo must not be framed at all
    };
    QList<Task> plan(QString* folderError);
    void frameOne(const Task& task, int renderThreads, ProgressReporter& reporter);
    bool isInputPhoto(const QString& path) const;

    FramerOptions _options;
    QImage _frame;
    QImage _postMask;
    struct FileId {
        quint64 device;
        quint64 inode;
        bool operator==(const FileId&) const = default;
    };
    QList<FileId> _inputIds;
    QStringList _inputPaths; // absolute, cleaned
};
