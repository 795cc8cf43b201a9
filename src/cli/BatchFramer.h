#pragma once

#include "FramerOptions.h"
#include "compositing/LoadedFrame.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

class ProgressReporter;

// Frames every photo of a run with the same frame and settings, several at once, and
// reports each one. A failing photo never stops the others.
class BatchFramer {
public:
    // photoNames: the photos as the file system names them, one for each of options.photos
    // (their encoded names when empty); those strings then only name them in messages.
    explicit BatchFramer(const FramerOptions& options, QList<QByteArray> photoNames = {});

    // Loads the frame (and its post mask); false with a message when it cannot be used. A
    // frame given as "Collection/Name" that is no file is looked up among the installed
    // frames of these roots.
    bool loadFrame(QString* error, const QString& builtinRoot, const QString& userRoot);

    // The installed frames, one collection after the other: a line with the collection's
    // name and where it is from, then one "Collection/Name" line for each of its frames
    // (the file name with its extension where two frames share a name).
    static QString frameListing(const QString& builtinRoot, const QString& userRoot);
    // The user frame folder when it exists; the batch framer never creates it.
    static QString existingUserFrameFolder();
    // Frames the batch; the program's exit status: 0 all written, 1 some failed.
    int run(bool showProgressBar);

    // "<folder>/<photo's base name>.<format's extension>", the base name's bytes as they are.
    static QByteArray outputNameFor(const QByteArray& photo, const QString& folder, int format);

private:
    struct Task {
        QString photo; // for messages, as are the strings below
        QByteArray photoName;
        QString output;
        QByteArray outputName;
        QString refusal; // set when the photo must not be framed at all
    };
    QList<Task> plan(QString* folderError);
    void frameOne(const Task& task, int renderThreads, ProgressReporter& reporter);
    bool isInputPhoto(const QByteArray& name) const;

    FramerOptions _options;
    QList<QByteArray> _photoNames;
    LoadedFrame _frame;
    struct FileId {
        quint64 device;
        quint64 inode;
        bool operator==(const FileId&) const = default;
    };
    QList<FileId> _inputIds;
    QList<QByteArray> _inputNames; // absolute, cleaned
};
