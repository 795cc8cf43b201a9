#include "FramerOptions.h"

#include "foundation/DefaultsKeys.h"
#include "frames/FrameLibrary.h"
#include "output/FileFormat.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QThread>

namespace {

std::optional<int> parseInt(const QString& text, int low, int high)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<QPointF> parseOffset(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 2)
        return std::nullopt;
    bool okX = false;
    bool okY = false;
    const double x = parts[0].trimmed().toDouble(&okX);
    const double y = parts[1].trimmed().toDouble(&okY);
    if (!okX || !okY || !std::isfinite(x) || !std::isfinite(y))
        return std::nullopt;
    return QPointF(x, y);
}

std::optional<FileFormat> parseFormat(const QString& text)
{
    const QString f = text.trimmed().toLower();
    if (f == QLatin1String("jpg") || f == QLatin1String("jpeg"))
        return FileFormat::Jpeg;
    if (f == QLatin1String("png"))
        return FileFormat::Png;
    if (f == QLatin1String("tiff") || f == QLatin1String("tif"))
        return FileFormat::Tiff;
    if (f == QLatin1String("webp"))
        return FileFormat::WebP;
    if (f == QLatin1String("avif"))
        return FileFormat::Avif;
    return std::nullopt;
}

// Where the frames that come with Velluma are, one folder per collection, so that a frame
// can be given to --frame without hunting for it.
QString builtinFramesHelp()
{
    const QString root = FrameLibrary::builtinFrameFolder();
    QString text = QCoreApplication::translate(
                       "FramerOptions", "\nFrames:\n"
                                        "  The frames that come with Velluma are installed in\n"
                                        "  %1\n"
                                        "  in one folder per collection:\n")
                       .arg(QDir::toNativeSeparators(root));
    for (const QString& name : FrameLibrary::collectionNamesForFolder(root))
        text += QStringLiteral("    %1\n").arg(name);
    text += QCoreApplication::translate(
                "FramerOptions",
                "  Collections made in the Velluma window are in the folder \"%1\" of\n"
                "  the data folder (normally ~/.local/share).\n")
                .arg(FrameLibrary::USER_FRAME_FOLDER);
    return text;
}

FramerOptions::Parsed usageError(const QString& message)
{
    return {FramerOptions::Action::UsageError, message, {}};
}

} // namespace

QString FramerOptions::usage(int defaultQuality)
{
    return QCoreApplication::translate(
               "FramerOptions",
               "Usage: velluma-frame [options] PHOTO...\n"
               "Puts a frame around each photo and writes it at full resolution.\n"
               "\n"
               "  -f, --frame FRAME      a frame image or SVG file (with its \"_postmask\" "
               "companion\n"
               "                         when present), or COLLECTION/NAME of an installed frame\n"
               "      --list-frames      list the installed frame collections and their frames\n"
               "  -c, --color COLOR      frame colour, #RRGGBB or a colour name (default white)\n"
               "  -t, --transparent      no colour: transparent background (not JPEG)\n"
               "  -F, --format FORMAT    jpg, png, tiff, webp or avif (default jpg)\n"
               "  -q, --quality N        JPEG, WebP or AVIF quality 1 to 100 (default %1;\n"
               "                         WebP at 100 is lossless)\n"
               "  -l, --limit KB         keep every JPEG, WebP or AVIF under KB kilobytes of 1024\n"
               "                         bytes\n"
               "  -m, --keep-metadata    carry the photo's metadata into every format but PNG\n"
               "      --no-rotate        never turn the frame to the photo's orientation\n"
               "      --flip             mirror the frame and its post mask\n"
               "      --offset X,Y       shift the photo by X,Y pixels (x to the right, y upward)\n"
               "  -o, --output PATH      output folder (created when missing; default: the "
               "current\n"
               "                         folder); the file is the photo's base name with the "
               "format's\n"
               "                         extension\n"
               "      --force            replace existing output files (never a photo given as "
               "input)\n"
               "      --resume           skip photos whose output exists (a run cut short "
               "goes on)\n"
               "      --files-from FILE  also the photos listed in FILE, one a line (\"-\": "
               "standard\n"
               "                         input)\n"
               "  -0, --null             the list's names end with a NUL byte, not a newline\n"
               "      --shard K/N        frame only the K-th of N parts of the photos (0 <= K "
               "< N),\n"
               "                         split by position: N runs frame each photo once\n"
               "      --json             one JSON object per photo on standard output: input, "
               "output,\n"
               "                         status, error, width, height, bytes, quality, "
               "milliseconds\n"
               "  -j, --jobs N           photos framed at once (default: the number of cores)\n"
               "  -v, --verbose          print every JPEG attempt as \"attempt quality=Q "
               "size=BYTES\"\n"
               "  -h, --help             show this help\n"
               "      --version          show the version\n"
               "\n"
               "Exit status: 0 when every photo was written, 1 when some failed, 2 on a usage "
               "error.\n")
               .arg(defaultQuality) +
           builtinFramesHelp();
}

FramerOptions::Parsed FramerOptions::parse(const QStringList& arguments,
                                           const QVariantMap& factoryDefaults,
                                           FramerOptions& options)
{
    options.format = FileFormat::Jpeg;
    options.quality = factoryDefaults.value(DefJpegQuality, 90).toInt();
    if (options.quality < 1 || options.quality > 100)
        options.quality = 90;
    options.autoRotate = factoryDefaults.value(DefAutoRotateBorder, true).toBool();
    options.jobs = qMax(1, QThread::idealThreadCount());

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption frame({"f", "frame"}, QString(), "FRAME");
    const QCommandLineOption color({"c", "color"}, QString(), "COLOR");
    const QCommandLineOption transparent({"t", "transparent"}, QString());
    const QCommandLineOption format({"F", "format"}, QString(), "FORMAT");
    const QCommandLineOption quality({"q", "quality"}, QString(), "N");
    const QCommandLineOption limit({"l", "limit"}, QString(), "KB");
    const QCommandLineOption keepMetadata({"m", "keep-metadata"}, QString());
    const QCommandLineOption noRotate("no-rotate", QString());
    const QCommandLineOption flip("flip", QString());
    const QCommandLineOption offset("offset", QString(), "X,Y");
    const QCommandLineOption output({"o", "output"}, QString(), "PATH");
    const QCommandLineOption force("force", QString());
    const QCommandLineOption jobs({"j", "jobs"}, QString(), "N");
    const QCommandLineOption verbose({"v", "verbose"}, QString());
    const QCommandLineOption help({"h", "help"}, QString());
    const QCommandLineOption version("version", QString());
    const QCommandLineOption listFrames("list-frames", QString());
    const QCommandLineOption filesFrom("files-from", QString(), "FILE");
    const QCommandLineOption null({"0", "null"}, QString());
    const QCommandLineOption shard("shard", QString(), "K/N");
    const QCommandLineOption resume("resume", QString());
    const QCommandLineOption json("json", QString());
    parser.addOptions({frame,        color,    transparent, format,  quality,    limit,
                       keepMetadata, noRotate, flip,        offset,  output,     force,
                       jobs,         verbose,  help,        version, listFrames, filesFrom,
                       null,         shard,    resume,      json});
    parser.addPositionalArgument("PHOTO", QString());

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help))
        return {Action::Help, QString(), {}};
    if (parser.isSet(version))
        return {Action::Version, QString(), {}};
    if (parser.isSet(listFrames))
        return {Action::ListFrames, QString(), {}};

    // An option given twice is almost always a slip; the last one would silently win.
    for (const QString& name : parser.optionNames()) {
        if (parser.optionNames().count(name) > 1)
            return usageError(
                QCoreApplication::translate("FramerOptions", "option '%1' given more than once")
                    .arg(name));
    }

    options.framePath = parser.value(frame);
    if (parser.isSet(frame) && options.framePath.isEmpty())
        return usageError(QCoreApplication::translate("FramerOptions", "--frame needs a file"));
    if (parser.isSet(color)) {
        const QColor c = QColor::fromString(parser.value(color).trimmed());
        if (!c.isValid())
            return usageError(QCoreApplication::translate("FramerOptions", "unknown colour '%1'")
                                  .arg(parser.value(color)));
        options.color = c;
    }
    if (parser.isSet(format)) {
        const std::optional<FileFormat> f = parseFormat(parser.value(format));
        if (!f)
            return usageError(
                QCoreApplication::translate("FramerOptions",
                                            "unknown format '%1' (jpg, png, tiff, webp or avif)")
                    .arg(parser.value(format)));
        options.format = *f;
    }
    Parsed parsed;
    // Like the window's setting: JPEG has no transparency, so it keeps its colour.
    if (parser.isSet(transparent) && options.format != FileFormat::Jpeg)
        options.color = std::nullopt;
    else if (parser.isSet(transparent))
        parsed.notes << QCoreApplication::translate(
            "FramerOptions", "--transparent has no effect on JPEG: the colour is used");
    if (parser.isSet(quality)) {
        const std::optional<int> q = parseInt(parser.value(quality), 1, 100);
        if (!q)
            return usageError(
                QCoreApplication::translate("FramerOptions", "quality must be 1 to 100, not '%1'")
                    .arg(parser.value(quality)));
        options.quality = *q;
    }
    if (parser.isSet(limit)) {
        // 2^21 KB keeps the byte limit (KB << 10) inside an int.
        const std::optional<int> l = parseInt(parser.value(limit), 0, 1 << 21);
        if (!l)
            return usageError(QCoreApplication::translate(
                                  "FramerOptions", "limit must be a number of kilobytes, not '%1'")
                                  .arg(parser.value(limit)));
        options.limitKB = *l;
        if (!isLossyFormat(options.format))
            parsed.notes << QCoreApplication::translate(
                "FramerOptions", "--limit applies to JPEG, WebP and AVIF only");
    }
    options.keepMetadata = parser.isSet(keepMetadata);
    if (parser.isSet(noRotate))
        options.autoRotate = false;
    options.flip = parser.isSet(flip);
    if (parser.isSet(offset)) {
        const std::optional<QPointF> o = parseOffset(parser.value(offset));
        if (!o)
            return usageError(QCoreApplication::translate("FramerOptions",
                                                          "offset must be X,Y in pixels, not '%1'")
                                  .arg(parser.value(offset)));
        options.offset = *o;
    }
    options.outputFolder = parser.isSet(output) ? parser.value(output) : QDir::currentPath();
    if (options.outputFolder.isEmpty())
        return usageError(QCoreApplication::translate("FramerOptions", "--output needs a folder"));
    options.force = parser.isSet(force);
    if (parser.isSet(jobs)) {
        const std::optional<int> j = parseInt(parser.value(jobs), 1, 256);
        if (!j)
            return usageError(
                QCoreApplication::translate("FramerOptions", "jobs must be 1 to 256, not '%1'")
                    .arg(parser.value(jobs)));
        options.jobs = *j;
    }
    options.verbose = parser.isSet(verbose);
    options.filesFrom = parser.value(filesFrom);
    if (parser.isSet(filesFrom) && options.filesFrom.isEmpty())
        return usageError(
            QCoreApplication::translate("FramerOptions", "--files-from needs a file or -"));
    options.nulSeparated = parser.isSet(null);
    if (options.nulSeparated && !parser.isSet(filesFrom))
        parsed.notes << QCoreApplication::translate("FramerOptions",
                                                    "--null applies to --files-from only");
    if (parser.isSet(shard)) {
        const QStringList parts = parser.value(shard).split(QLatin1Char('/'));
        const std::optional<int> n =
            parts.size() == 2 ? parseInt(parts[1], 1, 1 << 20) : std::nullopt;
        const std::optional<int> k = n ? parseInt(parts[0], 0, *n - 1) : std::nullopt;
        if (!k)
            return usageError(QCoreApplication::translate(
                                  "FramerOptions", "shard must be K/N with 0 <= K < N, not '%1'")
                                  .arg(parser.value(shard)));
        options.shardIndex = *k;
        options.shardCount = *n;
    }
    options.resume = parser.isSet(resume);
    if (options.resume && options.force)
        return usageError(QCoreApplication::translate(
            "FramerOptions", "--resume keeps existing outputs, --force replaces them: pick one"));
    options.json = parser.isSet(json);

    options.photos = parser.positionalArguments();
    if (options.photos.isEmpty() && options.filesFrom.isEmpty())
        return usageError(QCoreApplication::translate("FramerOptions", "no photo given"));
    for (const QString& photo : options.photos) {
        if (photo.isEmpty())
            return usageError(
                QCoreApplication::translate("FramerOptions", "an empty photo name was given"));
    }
    return parsed;
}
