#include "BatchFramer.h"
#include "FramerOptions.h"
#include "OutputFile.h"
#include "foundation/VellumaVersion.h"
#include "frames/FrameLibrary.h"
#include "output/ImageReader.h"
#include "output/OutputSettings.h"

#include <QCoreApplication>

#include <exiv2/exiv2.hpp>

#include <csignal>
#include <cstdio>
#include <limits>
#include <malloc.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velluma-frame"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELLUMA_VERSION));

    FramerOptions options;
    const QVariantMap factoryDefaults = OutputSettings::factoryDefaults();
    const FramerOptions::Parsed parsed =
        FramerOptions::parse(QCoreApplication::arguments(), factoryDefaults, options);
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

    BatchFramer framer(options);
    QString error;
    if (!framer.loadFrame(&error, FrameLibrary::builtinFrameFolder(),
                          BatchFramer::existingUserFrameFolder())) {
        std::fprintf(stderr, "velluma-frame: %s\n", error.toLocal8Bit().constData());
        return 2;
    }
    const int status = framer.run(::isatty(STDERR_FILENO) != 0);
    Exiv2::XmpParser::terminate();
    return status;
}
