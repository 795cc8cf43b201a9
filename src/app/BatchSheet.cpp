#include "BatchSheet.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <sys/resource.h>

namespace {

constexpr int kThumbnailSize = 48;

} // namespace

BatchSheet::BatchSheet(const QList<QByteArray>& photos, const FramedPhoto& framed,
                       const ExportRenderer::Options& output, const QString& folder,
                       QWidget* parent)
    : QDialog(parent), _photos(photos), _framed(framed), _output(output),
      _thumbnailsWanted(std::make_shared<std::atomic<bool>>(true))
{
    setObjectName(QStringLiteral("batchSheet"));
    setWindowTitle(tr("Frame Several Photos"));
    setWindowModality(Qt::WindowModal);
    // Every photo sits in the middle of the frame: the document's own shift fits its photo.
    _framed.photo = QImage();
    _framed.offset = QPointF();

    auto* layout = new QVBoxLayout(this);
    _list = new QTreeWidget(this);
    _list->setObjectName(QStringLiteral("photoList"));
    _list->setRootIsDecorated(false);
    _list->setIconSize(QSize(kThumbnailSize, kThumbnailSize));
    _list->setHeaderLabels({tr("Photo"), tr("Size")});
    _list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (const QByteArray& name : std::as_const(_photos)) {
        const QString path = QFile::decodeName(name);
        const QFileInfo info(path);
        const QSize pixels = QImageReader(path).size();
        QString size = QLocale().formattedDataSize(info.size());
        if (pixels.isValid())
            size = tr("%1 × %2, %3").arg(pixels.width()).arg(pixels.height()).arg(size);
        auto* row = new QTreeWidgetItem(_list, {info.fileName(), size});
        row->setToolTip(0, path);
    }
    layout->addWidget(_list);

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(new QLabel(tr("Into folder:"), this));
    _folderEdit = new QLineEdit(folder, this);
    _folderEdit->setObjectName(QStringLiteral("folderEdit"));
    folderRow->addWidget(_folderEdit, 1);
    _chooseButton = new QPushButton(tr("Choose..."), this);
    connect(_chooseButton, &QPushButton::clicked, this, &BatchSheet::chooseFolder);
    folderRow->addWidget(_chooseButton);
    layout->addLayout(folderRow);

    auto* progressRow = new QHBoxLayout;
    _progress = new QProgressBar(this);
    _progress->setObjectName(QStringLiteral("progressBar"));
    _progress->setRange(0, int(_photos.size()));
    _progress->setValue(0);
    progressRow->addWidget(_progress, 1);
    _count = new QLabel(this);
    _count->setObjectName(QStringLiteral("countLabel"));
    progressRow->addWidget(_count);
    layout->addLayout(progressRow);

    _summary = new QPlainTextEdit(this);
    _summary->setObjectName(QStringLiteral("summary"));
    _summary->setReadOnly(true);
    _summary->setMaximumHeight(120);
    _summary->hide();
    layout->addWidget(_summary);

    auto* buttons = new QDialogButtonBox(this);
    _cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    _cancelButton->setObjectName(QStringLiteral("cancelButton"));
    _frameButton = buttons->addButton(tr("Frame Photos"), QDialogButtonBox::AcceptRole);
    _frameButton->setObjectName(QStringLiteral("frameButton"));
    _frameButton->setDefault(true);
    connect(_frameButton, &QPushButton::clicked, this, &BatchSheet::start);
    connect(_cancelButton, &QPushButton::clicked, this, &BatchSheet::reject);
    layout->addWidget(buttons);
    resize(520, 420);
    loadThumbnails();
}

BatchSheet::~BatchSheet()
{
    _thumbnailsWanted->store(false);
    if (_engine)
        _engine->cancel();
}

QString BatchSheet::folder() const
{
    return _folderEdit->text().trimmed();
}

void BatchSheet::setFolder(const QString& folder)
{
    _folderEdit->setText(folder);
}

void BatchSheet::chooseFolder()
{
    const QString chosen =
        QFileDialog::getExistingDirectory(this, tr("Frame Into Folder"), folder());
    if (!chosen.isEmpty())
        setFolder(chosen);
}

// Thumbnails are read one after the other on a thread of their own: a photo of many
// megapixels must not hold up the window.
void BatchSheet::loadThumbnails()
{
    QPointer<BatchSheet> self(this);
    const auto wanted = _thumbnailsWanted;
    const QList<QByteArray> photos = _photos;
    QThread* thread = QThread::create([self, wanted, photos] {
        QThread* me = QThread::currentThread();
        for (qsizetype i = 0; i < photos.size() && wanted->load(); ++i) {
            QImageReader reader(QFile::decodeName(photos.at(i)));
            reader.setAutoTransform(true);
            const QSize size = reader.size();
            if (size.isValid())
                reader.setScaledSize(
                    size.scaled(kThumbnailSize, kThumbnailSize, Qt::KeepAspectRatio)
                        .expandedTo(QSize(1, 1)));
            const QImage thumbnail = reader.read();
            if (thumbnail.isNull())
                continue;
            QMetaObject::invokeMethod(
                me,
                [self, i, thumbnail] {
                    if (self && i < self->_list->topLevelItemCount())
                        self->_list->topLevelItem(int(i))->setIcon(
                            0, QIcon(QPixmap::fromImage(thumbnail)));
                },
                Qt::QueuedConnection);
        }
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::LowPriority);
}

void BatchSheet::start()
{
    if (_running || _photos.isEmpty())
        return;
    const QString target = folder();
    if (target.isEmpty()) {
        chooseFolder();
        if (folder().isEmpty())
            return;
        return start();
    }
    auto engine = std::make_shared<BatchEngine>(_framed, _output);
    QStringList names;
    for (const QByteArray& photo : std::as_const(_photos))
        names << QFile::decodeName(photo);
    QString folderError;
    QList<BatchEngine::Item> items = engine->plan(names, _photos, target, &folderError);
    if (!folderError.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), folderError);
        return;
    }
    const qsizetype existing = std::count_if(
        items.cbegin(), items.cend(), [](const BatchEngine::Item& item) { return item.exists; });
    if (existing > 0) {
        QMessageBox question(
            QMessageBox::Warning, windowTitle(),
            tr("%n of the framed photos already exist in this folder.", nullptr, int(existing)),
            QMessageBox::NoButton, this);
        question.setWindowModality(Qt::WindowModal);
        question.setInformativeText(tr("Replace them, or frame only the photos not there yet?"));
        QPushButton* replace = question.addButton(tr("Replace All"), QMessageBox::DestructiveRole);
        replace->setObjectName(QStringLiteral("replaceAll"));
        QPushButton* skip = question.addButton(tr("Skip Existing"), QMessageBox::AcceptRole);
        skip->setObjectName(QStringLiteral("skipExisting"));
        question.addButton(QMessageBox::Cancel);
        question.setDefaultButton(skip);
        question.exec();
        if (question.clickedButton() == replace)
            engine->setExisting(BatchEngine::Existing::Replace);
        else if (question.clickedButton() == skip)
            engine->setExisting(BatchEngine::Existing::Skip);
        else
            return;
    }

    _engine = engine;
    _items = items;
    _running = true;
    _done = _written = _skipped = 0;
    _failures.clear();
    _summary->hide();
    _progress->setValue(0);
    _count->setText(tr("0 of %1").arg(_items.size()));
    _frameButton->setEnabled(false);
    _folderEdit->setEnabled(false);
    _chooseButton->setEnabled(false);

    QPointer<BatchSheet> self(this);
    const int jobs = qMax(1, QThread::idealThreadCount());
    QThread* thread = QThread::create([engine, items, jobs, self] {
        // The window's thread comes first when it has input to answer: this thread, and the
        // workers it starts (they inherit it), give way to it.
        ::setpriority(PRIO_PROCESS, 0, ::getpriority(PRIO_PROCESS, 0) + 5);
        QThread* me = QThread::currentThread();
        engine->run(items, jobs, [me, self](qsizetype i, const BatchEngine::Outcome& outcome) {
            QMetaObject::invokeMethod(
                me,
                [self, i, outcome] {
                    if (self)
                        self->photoDone(i, outcome);
                },
                Qt::QueuedConnection);
        });
    });
    // Only the batch that is still this sheet's ends it; a cancelled one ended already.
    connect(thread, &QThread::finished, this, [this, engine] {
        if (_engine == engine && _running)
            endBatch(false);
        emit workEnded();
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void BatchSheet::photoDone(qsizetype index, const BatchEngine::Outcome& outcome)
{
    if (!_running || index >= _items.size())
        return;
    ++_done;
    switch (outcome.status) {
    case BatchEngine::Status::Written:
        ++_written;
        break;
    case BatchEngine::Status::Skipped:
        ++_skipped;
        break;
    case BatchEngine::Status::Failed:
        _failures << tr("%1: %2").arg(QFileInfo(_items.at(index).photo).fileName(), outcome.error);
        break;
    }
    _progress->setValue(_done);
    _count->setText(tr("%1 of %2").arg(_done).arg(_items.size()));
}

void BatchSheet::cancelBatch()
{
    if (!_running)
        return;
    _engine->cancel();
    endBatch(true);
}

void BatchSheet::reject()
{
    if (_running) {
        cancelBatch();
        return;
    }
    QDialog::reject();
}

void BatchSheet::endBatch(bool cancelled)
{
    _running = false;
    QString text = cancelled
                       ? tr("Stopped: %1 of %2 photos framed.").arg(_written).arg(_items.size())
                       : tr("%1 of %2 photos framed.").arg(_written).arg(_items.size());
    if (_skipped > 0)
        text += QLatin1Char(' ') + tr("%n already there, kept as they were.", nullptr, _skipped);
    if (!_failures.isEmpty())
        text += QLatin1Char('\n') + tr("%n could not be framed:", nullptr, int(_failures.size())) +
                QLatin1Char('\n') + _failures.join(QLatin1Char('\n'));
    _summary->setPlainText(text);
    _summary->show();
    _frameButton->setEnabled(true);
    _folderEdit->setEnabled(true);
    _chooseButton->setEnabled(true);
    _cancelButton->setText(tr("Close"));
    emit batchEnded();
}
