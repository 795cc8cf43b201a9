#pragma once

#include "browser/BrowserWorkflow.h"

#include <QByteArray>
#include <QMainWindow>
#include <QString>

class PhotoGridModel;
class QAction;
class QLabel;
class QListView;
class QModelIndex;

// The photo browser's one window: a grid of the current folder, a way up and into
// folders, and a picked photo handed to the program the workflow names.
class PhotoBrowserWindow : public QMainWindow {
    Q_OBJECT
public:
    PhotoBrowserWindow(const BrowserWorkflow& workflow, const QString& startFolder,
                       QWidget* parent = nullptr);

    bool showFolder(const QString& folder);
    bool showNativeFolder(const QByteArray& folder);
    // Starts the workflow's program with the photo named by its bytes; false (after telling
    // the user) when it cannot be started.
    bool pickPhoto(const QByteArray& nativePath);

    PhotoGridModel* model() const { return _model; }
    QListView* view() const { return _view; }

public slots:
    void goUp();

private:
    void _activated(const QModelIndex& index);

    BrowserWorkflow _workflow;
    PhotoGridModel* _model = nullptr;
    QListView* _view = nullptr;
    QAction* _upAction = nullptr;
    QLabel* _location = nullptr;
};
