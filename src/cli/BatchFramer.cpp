#include "BatchFramer.h"

#include "OutputFile.h"
#include "ProgressReporter.h"
#include "compositing/ExportRenderer.h"
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

QString cleanAbsolute(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

BatchFramer::BatchFramer(const FramerOptions& options) : _options(options) {}

QString BatchFramer::outputPathFor(const QString& photo, const QString& folder, int format)
{
    const QString base = QFileInfo(photo).completeBaseName();
    return QDir(folder).filePath(base + QLatin1Char('.') +
                                 TmpFilePath::fileExtensionForFormat(format));
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

bool BatchFramer::isInputPhoto(const QString& path) const
{
    if (_inputPaths.contains(cleanAbsolute(path)))
        return true;
    // The same file under another name: a symlink or a hard link.
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return _inputIds.contains(FileId{quint64(st.st_dev), quint64(st.st_ino)});
}

QList<BatchFramer::Task> BatchFramer::plan(QString* folderError)
{
    for (const QString& photo : _options.photos) {
        _inputPaths.append(cleanAbsolute(photo));
        struct stat st;
        if (::stat(QFile::encodeName(photo).constData(), &st) == 0)
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
    QHash<QString, QString> claimed; // output path -> the photo that writes it
    for (const QString& photo : _options.photos) {
        Task task;
        task.photo = photo;
        task.output = outputPathFor(photo, _options.outputFolder, _options.format);
        const QString key = cleanAbsolute(task.output);
        if (!folderError->isEmpty())
            task.refusal = *folderError;
        else if (isInputPhoto(task.output))
            task.refusal = QCoreApplication::translate(
                               "BatchFramer", "%1 would overwrite a photo given as input; refused")
                               .arg(task.output);
        else if (claimed.contains(key))
            task.refusal =
                QCoreApplication::translate("BatchFramer", "%1 is already the output of %2")
                    .arg(task.output, claimed.value(key));
        else if (!_options.force && QFileInfo::exists(task.output))
            task.refusal =
                QCoreApplication::translate("BatchFramer", "%1 exists (use --force to replace it)")
                    .arg(task.output);
        if (task.refusal.isEmpty())
            claimed.insert(key, photo);
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
    framed.metadata = std::make_shared<const ImageMetadata>(ImageMetadata::metadataForFile(name));

    ExportRenderer::Options output;
    output.format = _options.format;
    output.quality = _options.quality;
    output.limitKB = _options.format == FormatJPEG ? _options.limitKB : 0;
    output.preserveMetadata = _options.keepMetadata;

    QString error;
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
            data = renderer.encodeJpegFromFile(framed, name, output, &error, &streamed);
        if (!streamed) {
            QString damage;
            QImage photo = ImageReader::readImage(name, &error, &damage);
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
    if (isInputPhoto(task.output)) {
        reporter.failed(QCoreApplication::translate(
                            "BatchFramer", "%1: %2 would overwrite a photo given as input; refused")
                            .arg(name, task.output));
        return;
    }
    switch (OutputFile::place(task.output, data, _options.force, &error)) {
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
