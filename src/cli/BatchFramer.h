#pragma once

#include "FramerOptions.h"
#include "compositing/BatchEngine.h"
#include "compositing/LoadedFrame.h"

#include <QByteArray>
#include <QList>
#include <QString>

class ProgressReporter;

// Frames every photo of a run with the same frame and settings, several at once, and
// reports each one. A failing photo never stops the others.
class BatchFramer {
public:
    // photoNames: the photos as the file system names them.
    BatchFramer(const FramerOptions& options, const QList<QByteArray>& photoNames);

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
    // Frames the batch; the program's exit status: 0 all written or skipped, 1 some failed.
    int run(bool showProgressBar);

private:
    void report(const BatchEngine::Item& item, const BatchEngine::Outcome& outcome,
                ProgressReporter& reporter) const;

    FramerOptions _options;
    QList<QByteArray> _photoNames;
    LoadedFrame _frame;
};
