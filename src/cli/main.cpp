#include "BatchFramer.h"
#include "FramerOptions.h"
#include "PhotoList.h"
#include "foundation/VellumaVersion.h"
#include "frames/FrameLibrary.h"
#include "output/ImageReader.h"
#include "output/OutputFile.h"
#include "output/OutputSettings.h"

#include <QFile>
#include <QGuiApplication>

#include <exiv2/exiv2.hpp>

#include <csignal>
#include <cstdio>
#include <limits>
#include <malloc.h>
#include <unistd.h>
#include <utility>

namespace {

// The photos as the file system names them. Decoding the arguments turns bytes that
// are no UTF-8 into U+FFFD, and such a name opens nothing; each photo is matched back to
// its argument. Arguments that decode alike are told apart by their order when all of them
// are photos; otherwise (an option's value decodes like a photo) the decoded name is kept.
QList<QByteArray> photoNames(const QStringList& photos, int argc, char* argv[])
{
    QList<QByteArray> names;
    for (qsizetype i = 0; i < photos.size(); ++i) {
        const QString& photo = photos.at(i);
        QList<QByteArray> alike;
        for (int a = 1; a < argc; ++a) {
            if (QFile::decodeName(argv[a]) == photo)
                alike << QByteArray(argv[a]);
        }
        const qsizetype earlier = photos.mid(0, i).count(photo);
        names << (alike.size() == photos.count(photo) ? alike.at(earlier)
                                                      : QFile::encodeName(photo));
    }
    return names;
}

// Whether an option's value is the one given: a value decoded from bytes that are no UTF-8
// would name another file, and a folder would be made under that other name.
bool givenAsIs(const QString& value, int argc, char* argv[])
{
    if (!value.contains(QChar::ReplacementCharacter))
        return true;
    const QByteArray bytes = QFile::encodeName(value);
    for (int a = 1; a < argc; ++a) {
        if (QByteArrayView(argv[a]).contains(bytes))
            return true;
    }
    return false;
}

QtMessageHandler qtHandler = nullptr;

// The offscreen platform asks for a runtime folder that a batch job (cron, ssh, a cluster
// node) often has not got; Qt makes one of its own, and the notice would only look like
// a fault in every job's log.
void quietRuntimeNotice(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    qtHandler(type, context, text);
}

} // namespace

int main(int argc, char* argv[])
{
    // Text in a drawing needs fonts, which Qt has only with a QGuiApplication; the
    // offscreen platform gives them without a display. Qt's own options ("-platform",
    // "-reverse", ...) would be taken out of the arguments, so Qt sees none: each argument
    // stays an option of ours or a photo.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qtHandler = qInstallMessageHandler(quietRuntimeNotice);
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QGuiApplication app(qtArgc, qtArgv);
    QStringList arguments;
    for (int a = 0; a < argc; ++a)
        arguments << QString::fromLocal8Bit(argv[a]);
    QCoreApplication::setApplicationName(QStringLiteral("velluma-frame"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELLUMA_VERSION));

    FramerOptions options;
    const QVariantMap factoryDefaults = OutputSettings::factoryDefaults();
    const FramerOptions::Parsed parsed = FramerOptions::parse(arguments, factoryDefaults, options);
    switch (parsed.action) {
    case FramerOptions::Action::Help:
        std::fputs(FramerOptions::usage(factoryDefaults.value(DefJpegQuality, 90).toInt())
                       .toLocal8Bit()
                       .constData(),
                   stdout);
        return 0;
    case FramerOptions::Action::Version:
        std::printf("velluma-frame %s\n", VELLUMA_VERSION);
        return 0;
    case FramerOptions::Action::ListFrames:
        std::fputs(BatchFramer::frameListing(FrameLibrary::builtinFrameFolder(),
                                             BatchFramer::existingUserFrameFolder())
                       .toLocal8Bit()
                       .constData(),
                   stdout);
        return 0;
    case FramerOptions::Action::UsageError:
        std::fprintf(stderr, "velluma-frame: %s\n%s\n", parsed.error.toLocal8Bit().constData(),
                     QCoreApplication::translate("FramerOptions",
                                                 "Try 'velluma-frame --help' for more information.")
                         .toLocal8Bit()
                         .constData());
        return 2;
    case FramerOptions::Action::Run:
        break;
    }
    for (const auto& [value, what] : {std::pair{options.outputFolder, "output folder"},
                                      std::pair{options.framePath, "frame"}}) {
        if (!givenAsIs(value, argc, argv)) {
            std::fprintf(stderr, "velluma-frame: %s\n",
                         QCoreApplication::translate("FramerOptions",
                                                     "the %1's name is not UTF-8, which "
                                                     "velluma-frame cannot use; rename it")
                             .arg(QLatin1String(what))
                             .toLocal8Bit()
                             .constData());
            return 2;
        }
    }
    for (const QString& note : parsed.notes)
        std::fprintf(stderr, "velluma-frame: %s\n", note.toLocal8Bit().constData());

    // Every photo of a batch needs the same few big buffers. Kept in the heap instead of
    // being mapped and unmapped for each photo, they are reused without the kernel clearing
    // fresh pages again and again; the memory goes back to the system when the run ends.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());

    // A reader of the written names that goes away ("| head -1") must not end the batch: the
    // failed write is reported instead.
    std::signal(SIGPIPE, SIG_IGN);
    ImageReader::installAllocationLimit();
    OutputFile::captureUmask();
    OutputFile::installInterruptCleanup();
    // Exiv2's XMP parser must be set up once before photos are read on several threads.
    Exiv2::XmpParser::initialize();

    QString error;
    QList<QByteArray> names = photoNames(options.photos, argc, argv);
    if (!options.filesFrom.isEmpty() &&
        !PhotoList::read(options.filesFrom, options.nulSeparated, &names, &error)) {
        std::fprintf(stderr, "velluma-frame: %s\n", error.toLocal8Bit().constData());
        return 2;
    }
    BatchFramer framer(options, PhotoList::shard(names, options.shardIndex, options.shardCount));
    if (!framer.loadFrame(&error, FrameLibrary::builtinFrameFolder(),
                          BatchFramer::existingUserFrameFolder())) {
        std::fprintf(stderr, "velluma-frame: %s\n", error.toLocal8Bit().constData());
        return 2;
    }
    const int status = framer.run(::isatty(STDERR_FILENO) != 0);
    Exiv2::XmpParser::terminate();
    return status;
}
