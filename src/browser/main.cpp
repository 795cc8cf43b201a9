#include "browser/BrowserWorkflow.h"
#include "browser/PhotoBrowserWindow.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>

#include <cstdio>

// The photo browser Velluma installs beside its settings and starts without arguments;
// the workflow document in its bundle says what to call its window and whom to hand a
// picked photo.
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velluma Photo Browser"));

    BrowserWorkflow workflow;
    QString error;
    const QString document =
        BrowserWorkflow::documentPathForExecutableFolder(QApplication::applicationDirPath());
    if (!BrowserWorkflow::read(document, &workflow, &error))
        std::fprintf(stderr, "vOdavuRevadiz: %s: %s\n", qPrintable(document), qPrintable(error));

    QString start = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (start.isEmpty() || !QDir(start).exists())
        start = QDir::homePath();
    PhotoBrowserWindow window(workflow, start);
    window.show();
    return app.exec();
}
