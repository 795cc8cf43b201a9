#pragma once

#include "compositing/BatchEngine.h"

#include <QDialog>
#include <QList>

#include <atomic>
#include <memory>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

// Frames several photos at once with the document's frame and output choices, each centred
// in the frame, into a folder the user picks. The photos are framed on worker threads (one
// for each core) while the window stays free; the sheet counts them and can stop them, and
// at the end names every photo that failed and why.
class BatchSheet : public QDialog {
    Q_OBJECT
public:
    // framed: the document as it is (its own photo and offset are not used).
    BatchSheet(const QList<QByteArray>& photos, const FramedPhoto& framed,
               const ExportRenderer::Options& output, const QString& folder,
               QWidget* parent = nullptr);
    ~BatchSheet() override;

    QString folder() const;
    void setFolder(const QString& folder);
    bool isRunning() const { return _running; }
    int framedCount() const { return _written; }

public slots:
    // Frames the photos into the folder. Existing outputs are never replaced without one
    // question for all of them; answered Cancel, nothing starts.
    void start();
    // No photo starts after this and none still being framed is written; the sheet is
    // free at once.
    void cancelBatch();

signals:
    // The batch ended: all photos done, or cancelled.
    void batchEnded();
    // The worker threads of a batch have all ended (after batchEnded; later when cancelled).
    void workEnded();

protected:
    void reject() override;

private:
    void chooseFolder();
    void photoDone(qsizetype index, const BatchEngine::Outcome& outcome);
    void endBatch(bool cancelled);
    void loadThumbnails();

    QList<QByteArray> _photos;
    FramedPhoto _framed;
    ExportRenderer::Options _output;
    std::shared_ptr<BatchEngine> _engine;
    QList<BatchEngine::Item> _items;
    std::shared_ptr<std::atomic<bool>> _thumbnailsWanted;
    bool _running = false;
    int _done = 0;
    int _written = 0;
    int _skipped = 0;
    QStringList _failures;

    QTreeWidget* _list = nullptr;
    QLineEdit* _folderEdit = nullptr;
    QPushButton* _chooseButton = nullptr;
    QProgressBar* _progress = nullptr;
    QLabel* _count = nullptr;
    QPlainTextEdit* _summary = nullptr;
    QPushButton* _frameButton = nullptr;
    QPushButton* _cancelButton = nullptr;
};
