#include "FrameListModel.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

int FrameListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || _selected < 0)
        return 0;
    return int(_collections[_selected].frames.size());
}

QVariant FrameListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Collection& shown = _collections[_selected];
    const ThumbnailEntry& frame = shown.frames[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
        return QFileInfo(frame.path).completeBaseName();
    case Qt::DecorationRole:
        return frame.image;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    case PathRole:
        return frame.path;
    case KindRole:
        return QVariant::fromValue(shown.kind);
    default:
        return {};
    }
}

void FrameListModel::setCollections(const QList<Collection>& collections)
{
    beginResetModel();
    _collections = collections;
    _selected = -1;
    endResetModel();
}

int FrameListModel::collectionInFolder(const QString& folder) const
{
    for (int i = 0; i < collectionCount(); ++i) {
        if (_collections[i].folder == folder)
            return i;
    }
    return -1;
}

bool FrameListModel::userSelected() const
{
    return _selected >= 0 && _collections[_selected].kind == Kind::User;
}

void FrameListModel::select(int i)
{
    beginResetModel();
    _selected = i >= 0 && i < collectionCount() ? i : -1;
    endResetModel();
}

QString FrameListModel::pathAt(int row) const
{
    return data(index(row), PathRole).toString();
}

void FrameListModel::insertCollection(int at, const Collection& collection)
{
    at = std::clamp(at, 0, collectionCount());
    _collections.insert(at, collection);
    if (_selected >= at)
        ++_selected;
}

void FrameListModel::removeCollection(int i)
{
    if (i < 0 || i >= collectionCount())
        return;
    if (i == _selected) {
        beginResetModel();
        _collections.removeAt(i);
        _selected = -1;
        endResetModel();
        return;
    }
    _collections.removeAt(i);
    if (i < _selected)
        --_selected;
}

void FrameListModel::renameCollection(int i, const QString& name, const QString& folder)
{
    if (i < 0 || i >= collectionCount())
        return;
    Collection& renamed = _collections[i];
    renamed.name = name;
    renamed.folder = folder;
    for (ThumbnailEntry& frame : renamed.frames)
        frame.path = QDir(folder).filePath(QFileInfo(frame.path).fileName());
    if (i == _selected && rowCount() > 0)
        emit dataChanged(index(0), index(rowCount() - 1), {PathRole});
}

void FrameListModel::moveCollection(int from, int to)
{
    if (from < 0 || from >= collectionCount() || to < 0 || to >= collectionCount())
        return;
    _collections.move(from, to);
    if (_selected == from)
        _selected = to;
    else if (from < _selected && _selected <= to)
        --_selected;
    else if (to <= _selected && _selected < from)
        ++_selected;
}

void FrameListModel::setFrames(int i, const ThumbnailList& frames)
{
    if (i < 0 || i >= collectionCount())
        return;
    if (i != _selected) {
        _collections[i].frames = frames;
        return;
    }
    beginResetModel();
    _collections[i].frames = frames;
    endResetModel();
}
