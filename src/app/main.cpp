#include "app/AppController.h"
#include "app/SingleInstance.h"
#include "foundation/UserDefaults.h"
#include "foundation/VellumaVersion.h"
#include "output/ImageReader.h"
#include "ui/ToolTipHider.h"
#include "ui/ZTWindow.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velluma"));
    QApplication::setOrganizationName(QStringLiteral("Velluma"));
    QApplication::setApplicationVersion(QStringLiteral(VELLUMA_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("velluma"));

    // Everything after the program name is a file the desktop wants opened.
    QStringList files = QApplication::arguments().mid(1);

    SingleInstance instance;
    if (!instance.listen()) {
        if (instance.sendToRunningInstance(files))
            return 0;
        // Nobody took the files: carry on as the one instance without the socket.
    }

    ImageReader::installAllocationLimit();
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
        for (const QString& path : files)
            controller.applicationOpenFile(path);
    });
    return app.exec();
}
