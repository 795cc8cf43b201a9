#pragma once

#include "compositing/ExportRenderer.h"
#include "compositing/FramedPhoto.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <mutex>

// Frames a set of photos with one frame and one set of output choices, several at once,
// each into its own file in one folder. Shared by the batch framer and the window, so a
// photo framed either way comes out byte for byte the same. A failing photo never stops
// the others. Every member may be called from any thread.
class BatchEngine {
public:
    struct Item {
        QString photo; // for messages, as is output
        QByteArray photoName;
        QString output;
        QByteArray outputName;
        QString refusal;     // set when the photo must not be framed at all
        bool exists = false; // the output was there when planned
    };
    enum class Status { Written, Skipped, Failed };
    struct Outcome {
        Status status = Status::Failed;
        QString error;
        bool existed = false; // failed because the output appeared meanwhile
        int width = 0;
        int height = 0;
        qint64 bytes = 0;
        int quality = 0; // JPEG quality used, below the asked one under a size limit
        qint64 milliseconds = 0;
    };
    enum class Existing { Refuse, Replace, Skip };

    // framed: the frame, colour, turning rule and offset every photo gets (its photo and
    // metadata are not used).
    BatchEngine(const FramedPhoto& framed, const ExportRenderer::Options& output);

    // One item for each photo (names: as the file system holds them) into folder, made
    // when missing. The photos themselves are never taken as outputs, nor one output twice.
    QList<Item> plan(const QStringList& photos, const QList<QByteArray>& names,
                     const QString& folder, QString* folderError);
    void setExisting(Existing existing) { _existing = existing; }
    // Told each JPEG attempt of the file-size search of that photo (quality, bytes).
    void setAttemptLog(std::function<void(const Item&, int, qint64)> log);

    Outcome frameOne(const Item& item, int renderThreads) const;
    // Frames the items, jobs at a time; done is called on the worker thread as each ends.
    // After cancel() returns no photo starts and no finished one is placed (one being moved
    // into place at that moment is there when it returns): those left are not reported.
    void run(const QList<Item>& items, int jobs,
             const std::function<void(qsizetype, const Outcome&)>& done);
    void cancel();
    bool isCancelled() const { return _cancelled.load(); }

    // "<folder>/<photo's base name>.<format's extension>", the base name's bytes as they are.
    static QByteArray outputNameFor(const QByteArray& photo, const QString& folder,
                                    FileFormat format);

private:
    bool isInputPhoto(const QByteArray& name) const;

    FramedPhoto _framed;
    ExportRenderer::Options _output;
    Existing _existing = Existing::Refuse;
    std::function<void(const Item&, int, qint64)> _attemptLog;
    std::atomic<bool> _cancelled{false};
    // Held from the last look at _cancelled to the end of a file's move into place.
    mutable std::mutex _placing;
    struct FileId {
        quint64 device;
        quint64 inode;
        bool operator==(const FileId&) const = default;
    };
    QList<FileId> _inputIds;
    QList<QByteArray> _inputNames; // absolute, cleaned
};
