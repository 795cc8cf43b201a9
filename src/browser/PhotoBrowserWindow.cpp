#include "PhotoBrowserWindow.h"

#include "browser/PhotoGridModel.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Starts program with the arguments as bytes, not waited for, as QProcess::startDetached
// would but without turning them into text: a photo's name may be no UTF-8, and the
// program takes it as the bytes the file system holds. True once the program runs.
bool startDetached(const QByteArray& program, const QList<QByteArray>& arguments)
{
    QList<QByteArray> held = {program};
    held += arguments;
    std::vector<char*> argv;
    for (QByteArray& argument : held)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    // Tells whether exec worked: closed by a successful exec, else carries its errno.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return false;
    // Through a child that leaves at once, so the program is nobody's to wait for. Only
    // calls that are safe after fork() in a program with threads run in the children.
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        const pid_t started = ::fork();
        if (started == 0) {
            ::execv(argv[0], argv.data());
            const int failure = errno;
            [[maybe_unused]] const ssize_t sent = ::write(report[1], &failure, sizeof failure);
            ::_exit(127);
        }
        ::_exit(started < 0 ? 1 : 0);
    }
    ::close(report[1]);
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int failure = 0;
    ssize_t got = 0;
    do {
        got = ::read(report[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == 0;
}

} // namespace

PhotoBrowserWindow::PhotoBrowserWindow(const BrowserWorkflow& workflow, const QString& startFolder,
                                       QWidget* parent)
    : QMainWindow(parent), _workflow(workflow), _model(new PhotoGridModel(this))
{
    setWindowTitle(workflow.windowTitle.isEmpty() ? tr("Photo Browser") : workflow.windowTitle);

    _view = new QListView(this);
    _view->setViewMode(QListView::IconMode);
    _view->setResizeMode(QListView::Adjust);
    _view->setMovement(QListView::Static);
    // Equal cells let the view ask only the visible rows for their thumbnails.
    _view->setUniformItemSizes(true);
    _view->setIconSize(QSize(PhotoGridModel::ThumbnailSize, PhotoGridModel::ThumbnailSize));
    _view->setGridSize(
        QSize(PhotoGridModel::ThumbnailSize + 32, PhotoGridModel::ThumbnailSize + 40));
    _view->setTextElideMode(Qt::ElideMiddle);
    _view->setSelectionMode(QAbstractItemView::SingleSelection);
    _view->setModel(_model);
    setCentralWidget(_view);
    connect(_view, &QListView::activated, this, &PhotoBrowserWindow::_activated);

    QToolBar* bar = addToolBar(tr("Navigation"));
    bar->setMovable(false);
    _upAction = bar->addAction(style()->standardIcon(QStyle::SP_FileDialogToParent), tr("Up"), this,
                               &PhotoBrowserWindow::goUp);
    _upAction->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_Up), QKeySequence(Qt::Key_Backspace)});
    _location = new QLabel(bar);
    // A folder's name is shown as it is, even one that looks like markup.
    _location->setTextFormat(Qt::PlainText);
    _location->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bar->addWidget(_location);

    connect(_model, &PhotoGridModel::photoSkipped, this, [this](const QString& path) {
        statusBar()->showMessage(tr("\"%1\" cannot be shown.").arg(QFileInfo(path).fileName()),
                                 5000);
    });
    resize(900, 640);
    showFolder(startFolder);
}

bool PhotoBrowserWindow::showFolder(const QString& folder)
{
    return showNativeFolder(QFile::encodeName(QDir(folder).absolutePath()));
}

bool PhotoBrowserWindow::showNativeFolder(const QByteArray& folder)
{
    QString error;
    if (!_model->setNativeFolder(folder, &error)) {
        statusBar()->showMessage(error, 5000);
        return false;
    }
    _location->setText(QDir::toNativeSeparators(_model->folder()));
    _upAction->setEnabled(_model->nativeFolder() != "/");
    if (_model->isTruncated())
        statusBar()->showMessage(tr("Only the first %1 items of this folder are shown.")
                                     .arg(PhotoGridModel::MaxEntries));
    else
        statusBar()->clearMessage();
    if (_model->rowCount() > 0)
        _view->setCurrentIndex(_model->index(0));
    return true;
}

void PhotoBrowserWindow::goUp()
{
    const QByteArray child = _model->nativeFolder();
    const qsizetype slash = child.lastIndexOf('/');
    if (child == "/" || slash < 0 || !showNativeFolder(slash == 0 ? "/" : child.left(slash)))
        return;
    // Back where we came from, so Enter goes down again.
    for (int row = 0; row < _model->rowCount(); ++row) {
        const QModelIndex index = _model->index(row);
        if (index.data(PhotoGridModel::NativePathRole).toByteArray() == child) {
            _view->setCurrentIndex(index);
            _view->scrollTo(index);
            break;
        }
    }
}

void PhotoBrowserWindow::_activated(const QModelIndex& index)
{
    const QByteArray path = index.data(PhotoGridModel::NativePathRole).toByteArray();
    if (index.data(PhotoGridModel::IsFolderRole).toBool())
        showNativeFolder(path);
    else
        pickPhoto(path);
}

bool PhotoBrowserWindow::pickPhoto(const QByteArray& nativePath)
{
    // "--" first: a photo whose name looks like an option is still a photo.
    if (!_workflow.application.isEmpty() &&
        startDetached(QFile::encodeName(_workflow.application), {"--", nativePath}))
        return true;
    QMessageBox::warning(this, windowTitle(),
                         _workflow.application.isEmpty()
                             ? tr("This photo browser does not know which program opens photos.")
                             : tr("\"%1\" could not be started.").arg(_workflow.application));
    return false;
}
