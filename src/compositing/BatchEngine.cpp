#include "BatchEngine.h"

#include "foundation/NativeFile.h"
#include "output/FileFormat.h"
#include "output/ImageMetadata.h"
#include "output/ImageReader.h"
#include "output/OutputFile.h"
#include "output/TmpFilePath.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QThread>
#include <QThreadPool>

#include <sys/stat.h>

namespace {

// Names are handled as the bytes they are: Latin-1 carries every byte through Qt's path
// functions unchanged, where decoding would turn bytes that are no UTF-8 into U+FFFD.
QString carried(const QByteArray& name)
{
    return QString::fromLatin1(name);
}

QByteArray cleanAbsolute(const QByteArray& name)
{
    return QDir::cleanPath(carried(NativeFile::absoluteName(name))).toLatin1();
}

QString tr(const char* text)
{
    return QCoreApplication::translate("BatchEngine", text);
}

} // namespace

BatchEngine::BatchEngine(const FramedPhoto& framed, const ExportRenderer::Options& output)
    : _framed(framed), _output(output)
{
    _framed.photo = QImage();
    if (!isLossyFormat(_output.format))
        _output.limitKB = 0;
}

void BatchEngine::setAttemptLog(std::function<void(const Item&, int, qint64)> log)
{
    _attemptLog = std::move(log);
}

QByteArray BatchEngine::outputNameFor(const QByteArray& photo, const QString& folder,
                                      FileFormat format)
{
    const QString base = QFileInfo(carried(photo)).completeBaseName();
    return QDir(carried(QFile::encodeName(folder)))
        .filePath(base + QLatin1Char('.') + TmpFilePath::fileExtensionForFormat(format))
        .toLatin1();
}

bool BatchEngine::isInputPhoto(const QByteArray& name) const
{
    if (_inputNames.contains(cleanAbsolute(name)))
        return true;
    // The same file under another name: a symlink or a hard link.
    struct stat st;
    if (::stat(name.constData(), &st) != 0)
        return false;
    return _inputIds.contains(FileId{quint64(st.st_dev), quint64(st.st_ino)});
}

QList<BatchEngine::Item> BatchEngine::plan(const QStringList& photos,
                                           const QList<QByteArray>& names, const QString& folder,
                                           QString* folderError)
{
    for (const QByteArray& photo : names) {
        _inputNames.append(cleanAbsolute(photo));
        struct stat st;
        if (::stat(photo.constData(), &st) == 0)
            _inputIds.append(FileId{quint64(st.st_dev), quint64(st.st_ino)});
    }

    const QFileInfo info(folder);
    if (info.exists() && !info.isDir())
        *folderError = tr("%1 is not a folder").arg(folder);
    else if (!info.exists() && !QDir().mkpath(folder))
        *folderError = tr("cannot create the output folder %1").arg(folder);
    else
        OutputFile::removeStale(folder);

    QList<Item> items;
    QHash<QByteArray, QString> claimed; // output name -> the photo that writes it
    for (qsizetype i = 0; i < photos.size(); ++i) {
        Item item;
        item.photo = photos.at(i);
        item.photoName = names.at(i);
        item.outputName = outputNameFor(item.photoName, folder, _output.format);
        item.output = QFile::decodeName(item.outputName);
        const QByteArray key = cleanAbsolute(item.outputName);
        struct stat st;
        item.exists = ::stat(item.outputName.constData(), &st) == 0;
        if (!folderError->isEmpty())
            item.refusal = *folderError;
        else if (isInputPhoto(item.outputName))
            item.refusal =
                tr("%1 would overwrite a photo given as input; refused").arg(item.output);
        else if (claimed.contains(key))
            item.refusal =
                tr("%1 is already the output of %2").arg(item.output, claimed.value(key));
        if (item.refusal.isEmpty())
            claimed.insert(key, item.photo);
        items.append(item);
    }
    return items;
}

BatchEngine::Outcome BatchEngine::frameOne(const Item& item, int renderThreads) const
{
    QElapsedTimer clock;
    clock.start();
    Outcome outcome;
    const auto finish = [&](Status status, const QString& error) {
        outcome.status = status;
        outcome.error = error;
        outcome.milliseconds = clock.elapsed();
        return outcome;
    };
    if (!item.refusal.isEmpty())
        return finish(Status::Failed, item.refusal);
    if (item.exists && _existing == Existing::Skip) {
        // What was written before, told as a written one would be.
        const QSize size = QImageReader(QFile::decodeName(item.outputName)).size();
        outcome.width = size.width();
        outcome.height = size.height();
        outcome.bytes = QFileInfo(QFile::decodeName(item.outputName)).size();
        return finish(Status::Skipped, QString());
    }

    FramedPhoto framed = _framed;
    // The photo is read through a path Qt can spell, whatever bytes name it.
    NativeFile file(item.photoName);
    QString error;
    const QString path = file.path(&error);
    if (path.isEmpty())
        return finish(Status::Failed, tr("cannot read the photo: %1").arg(error));
    framed.metadata = std::make_shared<const ImageMetadata>(ImageMetadata::metadataForFile(path));

    QByteArray data;
    QSize framedSize;
    int quality = _output.quality;
    {
        ExportRenderer renderer;
        renderer.setRenderThreads(renderThreads);
        if (_attemptLog)
            renderer.setAttemptLog(
                [this, &item](int q, qint64 bytes) { _attemptLog(item, q, bytes); });
        // A JPEG photo going out as JPEG is framed band by band straight from its file;
        // everything else is read whole first.
        bool streamed = false;
        if (_output.format == FileFormat::Jpeg)
            data = renderer.encodeJpegFromFile(framed, path, _output, &error, &streamed, &quality);
        if (!streamed) {
            QString damage;
            QImage photo = ImageReader::readImage(path, &error, &damage);
            if (photo.isNull())
                return finish(Status::Failed, tr("cannot read the photo: %1").arg(error));
            // What a damaged photo lacks would be written as flat gray.
            if (!damage.isEmpty())
                return finish(Status::Failed, damage);
            framedSize = photo.size(); // the output's too, for formats Qt cannot read back
            framed.photo = std::exchange(photo, QImage()); // the only copy
            data = renderer.encodeImage(framed, _output, &error, &quality);
        }
        framed = FramedPhoto(); // the photo's memory goes before the file is placed
    }
    if (data.isEmpty())
        return finish(Status::Failed, error.isEmpty() ? tr("it could not be encoded") : error);
    if (isCancelled())
        return finish(Status::Failed, tr("cancelled"));
    // Checked again: the output may have become a link to an input meanwhile.
    if (isInputPhoto(item.outputName))
        return finish(Status::Failed,
                      tr("%1 would overwrite a photo given as input; refused").arg(item.output));
    const bool replace = _existing == Existing::Replace;
    OutputFile::Result placed;
    {
        std::unique_lock placing(_placing, std::defer_lock);
        const auto stillWanted = [&] {
            placing.lock();
            return !isCancelled();
        };
        placed = OutputFile::place(item.outputName, data, replace, &error, stillWanted);
    }
    switch (placed) {
    case OutputFile::Result::Written: {
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        QSize size = QImageReader(&buffer).size();
        if (!size.isValid())
            size = framedSize;
        outcome.width = size.width();
        outcome.height = size.height();
        outcome.bytes = data.size();
        outcome.quality = isLossyFormat(_output.format) ? quality : 0;
        return finish(Status::Written, QString());
    }
    case OutputFile::Result::Exists:
        // Made meanwhile by someone else: done already when skipping existing outputs.
        if (_existing == Existing::Skip)
            return finish(Status::Skipped, QString());
        outcome.existed = true;
        return finish(Status::Failed, tr("%1 exists").arg(item.output));
    case OutputFile::Result::Failed:
        break;
    }
    return finish(Status::Failed, tr("cannot write %1: %2").arg(item.output, error));
}

void BatchEngine::cancel()
{
    const std::lock_guard placing(_placing);
    _cancelled.store(true);
}

void BatchEngine::run(const QList<Item>& items, int jobs,
                      const std::function<void(qsizetype, const Outcome&)>& done)
{
    jobs = qMax(1, qMin(jobs, int(items.size())));
    // Cores left over by the photos framed side by side go to each photo's render bands.
    const int renderThreads = qMax(1, QThread::idealThreadCount() / jobs);
    const auto one = [this, &items, &done, renderThreads](qsizetype i) {
        if (isCancelled())
            return;
        const Outcome outcome = frameOne(items.at(i), renderThreads);
        if (!isCancelled())
            done(i, outcome);
    };
    if (jobs == 1) {
        for (qsizetype i = 0; i < items.size(); ++i)
            one(i);
        return;
    }
    QThreadPool pool;
    pool.setMaxThreadCount(jobs);
    for (qsizetype i = 0; i < items.size(); ++i)
        pool.start([&one, i] { one(i); });
    pool.waitForDone();
}
