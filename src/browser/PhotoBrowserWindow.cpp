#include "PhotoBrowserWindow.h"

#include "browser/PhotoGridModel.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

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
    QString error;
    if (!_model->setFolder(folder, &error)) {
        statusBar()->showMessage(error, 5000);
        return false;
    }
    _location->setText(QDir::toNativeSeparators(_model->folder()));
    _upAction->setEnabled(!QDir(_model->folder()).isRoot());
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
    QDir dir(_model->folder());
    const QString child = dir.dirName();
    if (!dir.cdUp() || !showFolder(dir.absolutePath()))
        return;
    // Back where we came from, so Enter goes down again.
    for (int row = 0; row < _model->rowCount(); ++row) {
        const QModelIndex index = _model->index(row);
        if (index.data(Qt::DisplayRole).toString() == child) {
            _view->setCurrentIndex(index);
            _view->scrollTo(index);
            break;
        }
    }
}

void PhotoBrowserWindow::_activated(const QModelIndex& index)
{
    const QString path = index.data(PhotoGridModel::PathRole).toString();
    if (index.data(PhotoGridModel::IsFolderRole).toBool())
        showFolder(path);
    else
        pickPhoto(path);
}

bool PhotoBrowserWindow::pickPhoto(const QString& path)
{
    // "--" first: a photo whose name looks like an option is still a photo.
    if (!_workflow.application.isEmpty() &&
        QProcess::startDetached(_workflow.application, {QStringLiteral("--"), path}))
        return true;
    QMessageBox::warning(this, windowTitle(),
                         _workflow.application.isEmpty()
                             ? tr("This photo browser does not know which program opens photos.")
                             : tr("\"%1\" could not be started.").arg(_workflow.application));
    return false;
}
