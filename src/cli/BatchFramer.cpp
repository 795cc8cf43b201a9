#include "BatchFramer.h"

#include "ProgressReporter.h"
#include "frames/FrameLibrary.h"
#include "frames/ThumbnailCache.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

BatchFramer::BatchFramer(const FramerOptions& options, const QList<QByteArray>& photoNames)
    : _options(options), _photoNames(photoNames)
{
    _options.photos.clear();
    for (const QByteArray& name : photoNames)
        _options.photos << QFile::decodeName(name);
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

void BatchFramer::report(const BatchEngine::Item& item, const BatchEngine::Outcome& outcome,
                         ProgressReporter& reporter) const
{
    QString message;
    if (outcome.status == BatchEngine::Status::Failed) {
        message = item.photo + QStringLiteral(": ") + outcome.error;
        if (outcome.existed)
            message += QCoreApplication::translate("BatchFramer", " (use --force to replace it)");
    }
    if (!_options.json) {
        if (outcome.status == BatchEngine::Status::Written)
            reporter.written(item.output);
        else if (outcome.status == BatchEngine::Status::Skipped)
            reporter.skipped();
        else
            reporter.failed(message);
        return;
    }
    static const char* const statuses[] = {"written", "skipped", "failed"};
    const QJsonObject line{
        {QStringLiteral("input"), item.photo},
        {QStringLiteral("output"), item.output},
        {QStringLiteral("status"), QLatin1String(statuses[int(outcome.status)])},
        {QStringLiteral("error"), outcome.error},
        {QStringLiteral("width"), outcome.width},
        {QStringLiteral("height"), outcome.height},
        {QStringLiteral("bytes"), outcome.bytes},
        {QStringLiteral("quality"), outcome.quality},
        {QStringLiteral("milliseconds"), outcome.milliseconds},
    };
    reporter.record(QJsonDocument(line).toJson(QJsonDocument::Compact), message);
}

int BatchFramer::run(bool showProgressBar)
{
    FramedPhoto framed;
    framed.frame = _frame.frame;
    framed.postMask = _frame.postMask;
    framed.frameDrawing = _frame.frameDrawing;
    framed.postMaskDrawing = _frame.postMaskDrawing;
    framed.geometry = _frame.geometry;
    framed.color = _options.color;
    framed.autoRotate = _options.autoRotate;
    framed.offset = _options.offset;
    ExportRenderer::Options output;
    output.format = _options.format;
    output.quality = _options.quality;
    output.limitKB = _options.limitKB;
    output.preserveMetadata = _options.keepMetadata;
    BatchEngine engine(framed, output);

    QString folderError;
    QList<BatchEngine::Item> items =
        engine.plan(_options.photos, _photoNames, _options.outputFolder, &folderError);
    if (_options.force)
        engine.setExisting(BatchEngine::Existing::Replace);
    else if (_options.resume)
        engine.setExisting(BatchEngine::Existing::Skip);
    else {
        for (BatchEngine::Item& item : items) {
            if (item.exists && item.refusal.isEmpty())
                item.refusal = QCoreApplication::translate("BatchFramer",
                                                           "%1 exists (use --force to replace it)")
                                   .arg(item.output);
        }
    }
    ProgressReporter reporter(int(items.size()), showProgressBar && items.size() > 1);
    if (_options.verbose) {
        const bool named = items.size() > 1;
        engine.setAttemptLog(
            [&reporter, named](const BatchEngine::Item& item, int quality, qint64 bytes) {
                reporter.note(QStringLiteral("%1attempt quality=%2 size=%3")
                                  .arg(named ? item.photo + QStringLiteral(": ") : QString(),
                                       QString::number(quality), QString::number(bytes)));
            });
    }
    engine.run(items, _options.jobs,
               [this, &items, &reporter](qsizetype i, const BatchEngine::Outcome& outcome) {
                   report(items.at(i), outcome, reporter);
               });
    return reporter.failures() == 0 ? 0 : 1;
}
