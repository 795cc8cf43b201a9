#include "BatchFramer.h"

#include "OutputFile.h"
#include "ProgressReporter.h"
#include "compositing/ExportRenderer.h"
#include "foundation/NativeFile.h"
#include "frames/FrameLibrary.h"
#include "frames/ThumbnailCache.h"
#include "output/FileFormat.h"
#include "output/ImageMetadata.h"
#include "output/ImageReader.h"
#include "output/TmpFilePath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
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

} // namespace

BatchFramer::BatchFramer(const FramerOptions& options, QList<QByteArray> photoNames)
    : _options(options), _photoNames(std::move(photoNames))
{
    if (_photoNames.size() != _options.photos.size()) {
        _photoNames.clear();
        for (const QString& photo : std::as_const(_options.photos))
            _photoNames << QFile::encodeName(photo);
    }
}

QByteArray BatchFramer::outputNameFor(const QByteArray& photo, const QString& folder, int format)
{
    const QString base = QFileInfo(carried(photo)).completeBaseName();
    return QDir(carried(QFile::encodeName(folder)))
        .filePath(base + QLatin1Char('.') + TmpFilePath::fileExtensionForFormat(format))
        .toLatin1();
}

bool BatchFramer::loadFrame(QString* error, const QString& builtinRoot, const QString& userRoot)
{
    QString path = _options.framePath;
    const QFileInfo info(path);
    if (!path.isEmpty() && !info.exists() && !info.isSymLink() &&
        path.count(QLatin1Char('/')) == 1 && !path.startsWith(QLatin1Char('/'))) {
        path = FrameLibrary::frameForName(path, builtinRoot, userRoot);
        if (path.isEmpty()) {
            if (error)
                *error = QCoreApplication::translate(
                             "BatchFramer", "%1: no such file, nor an installed frame of that "
                                            "name (see --list-frames)")
                             .arg(_options.framePath);
            return false;
        }
    }
    // The window reads frames through the same loader, so both frame a photo alike.
    return FrameLibrary::loadFrame(path, _options.flip, &_frame, error);
}

QString BatchFramer::existingUserFrameFolder()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return {};
    const QString folder = QDir(data).filePath(FrameLibrary::USER_FRAME_FOLDER);
    return QFileInfo(folder).isDir() ? folder : QString();
}

QString BatchFramer::frameListing(const QString& builtinRoot, const QString& userRoot)
{
    QString out;
    const QString kinds[] = {QCoreApplication::translate("BatchFramer", "built-in"),
                             QCoreApplication::translate("BatchFramer", "yours")};
    const QString roots[] = {builtinRoot, userRoot};
    for (int r = 0; r < 2; ++r) {
        if (roots[r].isEmpty())
            continue;
        for (const QString& collection : FrameLibrary::collectionNamesForFolder(roots[r])) {
            out += QStringLiteral("%1 (%2)\n").arg(collection, kinds[r]);
            QStringList files;
            for (const QString& path :
                 FrameLibrary::frameCandidatesInFolder(QDir(roots[r]).filePath(collection))) {
                if (!FrameLibrary::isCompanionPath(path) && ThumbnailCache::isImageFile(path))
                    files.append(QFileInfo(path).fileName());
            }
            QStringList names;
            for (const QString& file : std::as_const(files))
                names.append(QFileInfo(file).completeBaseName());
            for (qsizetype i = 0; i < files.size(); ++i) {
                const QString& name = names.count(names[i]) > 1 ? files[i] : names[i];
                out += QStringLiteral("  %1/%2\n").arg(collection, name);
            }
        }
    }
    return out;
}

bool BatchFramer::isInputPhoto(const QByteArray& name) const
{
    if (_inputNames.contains(cleanAbsolute(name)))
        return true;
    // The same file under another name: a symlink or a hard link.
    struct stat st;
    if (::stat(name.constData(), &st) != 0)
        return false;
    return _inputIds.contains(FileId{quint64(st.st_dev), quint64(st.st_ino)});
}

QList<BatchFramer::Task> BatchFramer::plan(QString* folderError)
{
    for (const QByteArray& photo : std::as_const(_photoNames)) {
        _inputNames.append(cleanAbsolute(photo));
        struct stat st;
        if (::stat(photo.constData(), &st) == 0)
            _inputIds.append(FileId{quint64(st.st_dev), quint64(st.st_ino)});
    }

    const QFileInfo folder(_options.outputFolder);
    if (folder.exists() && !folder.isDir())
        *folderError = QCoreApplication::translate("BatchFramer", "%1 is not a folder")
                           .arg(_options.outputFolder);
    else if (!folder.exists() && !QDir().mkpath(_options.outputFolder))
        *folderError =
            QCoreApplication::translate("BatchFramer", "cannot create the output folder %1")
                .arg(_options.outputFolder);
    else
        OutputFile::removeStale(_options.outputFolder);

    QList<Task> tasks;
    QHash<QByteArray, QString> claimed; // output name -> the photo that writes it
    for (qsizetype i = 0; i < _options.photos.size(); ++i) {
        Task task;
        task.photo = _options.photos.at(i);
        task.photoName = _photoNames.at(i);
        task.outputName = outputNameFor(task.photoName, _options.outputFolder, _options.format);
        task.output = QFile::decodeName(task.outputName);
        const QByteArray key = cleanAbsolute(task.outputName);
        struct stat st;
        if (!folderError->isEmpty())
            task.refusal = *folderError;
        else if (isInputPhoto(task.outputName))
            task.refusal = QCoreApplication::translate(
                               "BatchFramer", "%1 would overwrite a photo given as input; refused")
                               .arg(task.output);
        else if (claimed.contains(key))
            task.refusal =
                QCoreApplication::translate("BatchFramer", "%1 is already the output of %2")
                    .arg(task.output, claimed.value(key));
        else if (!_options.force && ::stat(task.outputName.constData(), &st) == 0)
            task.refusal =
                QCoreApplication::translate("BatchFramer", "%1 exists (use --force to replace it)")
                    .arg(task.output);
        if (task.refusal.isEmpty())
            claimed.insert(key, task.photo);
        tasks.append(task);
    }
    return tasks;
}

void BatchFramer::frameOne(const Task& task, int renderThreads, ProgressReporter& reporter)
{
    const QString& name = task.photo;
    if (!task.refusal.isEmpty()) {
        reporter.failed(QStringLiteral("%1: %2").arg(name, task.refusal));
        return;
    }
    FramedPhoto framed;
    framed.frame = _frame.frame;
    framed.postMask = _frame.postMask;
    framed.frameDrawing = _frame.frameDrawing;
    framed.postMaskDrawing = _frame.postMaskDrawing;
    framed.geometry = _frame.geometry;
    framed.color = _options.color;
    framed.autoRotate = _options.autoRotate;
    framed.offset = _options.offset;
    // The photo is read through a path Qt can spell, whatever bytes name it.
    NativeFile file(task.photoName);
    QString error;
    const QString path = file.path(&error);
    if (path.isEmpty()) {
        reporter.failed(QCoreApplication::translate("BatchFramer", "%1: cannot read the photo: %2")
                            .arg(name, error));
        return;
    }
    framed.metadata = std::make_shared<const ImageMetadata>(ImageMetadata::metadataForFile(path));

    ExportRenderer::Options output;
    output.format = _options.format;
    output.quality = _options.quality;
    output.limitKB = isLossyFormat(_options.format) ? _options.limitKB : 0;
    output.preserveMetadata = _options.keepMetadata;

    QByteArray data;
    {
        ExportRenderer renderer;
        renderer.setRenderThreads(renderThreads);
        if (_options.verbose) {
            const QString prefix =
                _options.photos.size() > 1 ? name + QStringLiteral(": ") : QString();
            renderer.setAttemptLog([&reporter, prefix](int quality, qint64 bytes) {
                reporter.note(QStringLiteral("%1attempt quality=%2 size=%3")
                                  .arg(prefix, QString::number(quality), QString::number(bytes)));
            });
        }
        // A JPEG photo going out as JPEG is framed band by band straight from its file;
        // everything else is read whole first.
        bool streamed = false;
        if (_options.format == FormatJPEG)
            data = renderer.encodeJpegFromFile(framed, path, output, &error, &streamed);
        if (!streamed) {
            QString damage;
            QImage photo = ImageReader::readImage(path, &error, &damage);
            if (photo.isNull()) {
                reporter.failed(
                    QCoreApplication::translate("BatchFramer", "%1: cannot read the photo: %2")
                        .arg(name, error));
                return;
            }
            // What a damaged photo lacks would be written as flat gray.
            if (!damage.isEmpty()) {
                reporter.failed(QStringLiteral("%1: %2").arg(name, damage));
                return;
            }
            framed.photo = std::exchange(photo, QImage()); // the document's copy is the only one
            data = renderer.encodeImage(framed, output, &error);
        }
        framed = FramedPhoto(); // the photo's memory goes before the file is placed
    }
    if (data.isEmpty()) {
        if (error.isEmpty())
            error = QCoreApplication::translate("BatchFramer", "it could not be encoded");
        reporter.failed(QStringLiteral("%1: %2").arg(name, error));
        return;
    }
    // Checked again: the output may have become a link to an input meanwhile.
    if (isInputPhoto(task.outputName)) {
        reporter.failed(QCoreApplication::translate(
                            "BatchFramer", "%1: %2 would overwrite a photo given as input; refused")
                            .arg(name, task.output));
        return;
    }
    switch (OutputFile::place(task.outputName, data, _options.force, &error)) {
    case OutputFile::Result::Written:
        reporter.written(task.output);
        break;
    case OutputFile::Result::Exists:
        reporter.failed(
            QCoreApplication::translate("BatchFramer", "%1: %2 exists (use --force to replace it)")
                .arg(name, task.output));
        break;
    case OutputFile::Result::Failed:
        reporter.failed(QCoreApplication::translate("BatchFramer", "%1: cannot write %2: %3")
                            .arg(name, task.output, error));
        break;
    }
}

int BatchFramer::run(bool showProgressBar)
{
    QString folderError;
    const QList<Task> tasks = plan(&folderError);
    ProgressReporter reporter(int(tasks.size()), showProgressBar && tasks.size() > 1);

    const int jobs = qMax(1, qMin(_options.jobs, int(tasks.size())));
    // Cores left over by the photos framed side by side go to each photo's render bands.
    const int renderThreads = qMax(1, QThread::idealThreadCount() / jobs);
    if (jobs == 1) {
        for (const Task& task : tasks)
            frameOne(task, renderThreads, reporter);
    } else {
        QThreadPool pool;
        pool.setMaxThreadCount(jobs);
        for (const Task& task : tasks)
            pool.start([this, task, renderThreads, &reporter] {
                frameOne(task, renderThreads, reporter);
            });
        pool.waitForDone();
    }
    return reporter.failures() == 0 ? 0 : 1;
}
