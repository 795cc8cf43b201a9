#include "app/AppController.h"
#include "app/SingleInstance.h"
#include "foundation/UserDefaults.h"
#include "foundation/VellumaVersion.h"
#include "frames/ThumbnailCache.h"
#include "output/ImageReader.h"
#include "ui/ToolTipHider.h"
#include "ui/ZTWindow.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// What a launch asks for before any photo: answered on the terminal without a window.
enum class Request { Photos, Help, Version };

// As desktop programs do: "--help" and "--version" (or "-h", "-v") anywhere before "--",
// which ends the options so that a photo may have such a name.
Request requestOf(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "--") == 0)
            break;
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0)
            return Request::Help;
        if (std::strcmp(argument, "--version") == 0 || std::strcmp(argument, "-v") == 0)
            return Request::Version;
    }
    return Request::Photos;
}

int answer(Request request)
{
    const QString text =
        request == Request::Help
            ? QCoreApplication::translate(
                  "main",
                  "Usage: velluma [PHOTO...]\n"
                  "Opens the photos in a window to put frames around them.\n"
                  "\n"
                  "Only one Velluma window runs per user: the photos of a later start open in\n"
                  "the window that is already up. The Photo Browser of the File menu hands the\n"
                  "photo picked in it over the same way.\n"
                  "\n"
                  "  -h, --help     show this help\n"
                  "  -v, --version  show the version\n"
                  "  --             end of the options: every argument after it is a photo\n")
            : QStringLiteral("velluma " VELLUMA_VERSION "\n");
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    // Before the application object: a terminal asking for help needs no display.
    if (const Request request = requestOf(argc, argv); request != Request::Photos)
        return answer(request);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velluma"));
    QApplication::setOrganizationName(QStringLiteral("Velluma"));
    QApplication::setApplicationVersion(QStringLiteral(VELLUMA_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("app.velluma.Velluma"));

    // Everything after the program name (and the options Qt took out of argv) is a file
    // the desktop wants opened, except the first "--", which only ends the options. The
    // names stay the bytes they are: QApplication::arguments() would turn those that are
    // no UTF-8 into names of no file.
    QList<QByteArray> files;
    for (int i = 1; i < argc; ++i)
        files << QByteArray(argv[i]);
    files.removeOne(QByteArrayLiteral("--"));

    SingleInstance instance;
    if (!instance.listen()) {
        if (instance.sendToRunningInstance(files))
            return 0;
        // Nobody took the files: carry on as the one instance without the socket.
    }

    ImageReader::installAllocationLimit();
    // Frame thumbnails at the density of the sharpest screen, so that none shows them enlarged.
    qreal sharpest = 1.0;
    for (const QScreen* screen : QGuiApplication::screens())
        sharpest = std::max(sharpest, screen->devicePixelRatio());
    ThumbnailCache::setDeviceScale(int(std::ceil(sharpest)));
    // The window owns itself once shown; the controller lives as long as the program.
    AppController controller(UserDefaults::standard());
    app.installEventFilter(new ToolTipHider(UserDefaults::standard(), &app));
    QApplication::setWindowIcon(controller.mainWindow()->windowIcon());
    QObject::connect(&instance, &SingleInstance::filesReceived, &controller,
                     &AppController::openFiles);
    // Quitting is the controller's decision (closing the main window), not the last
    // window's: the colour dialog may still be up.
    QApplication::setQuitOnLastWindowClosed(false);

    controller.mainWindow()->show();
    QTimer::singleShot(0, &controller, [&controller, files] {
        controller.applicationDidFinishLaunching();
        if (files.size() > 1)
            controller.frameSeveral(files);
        else
            for (const QByteArray& name : files)
                controller.applicationOpenNativeFile(name);
    });
    return app.exec();
}
