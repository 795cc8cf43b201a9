#include "DestinationTableModel.h"

#include "foundation/PropertyList.h"
#include "foundation/Resources.h"
#include "output/ImageReader.h"
#include "targets/ApplicationLauncher.h"
#include "targets/Destination.h"
#include "targets/DestinationList.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QPalette>
#include <QPixmap>
#include <QUrl>

namespace {

const QString kDefaultColumn = QStringLiteral("default");
const QString kTypeColumn = QStringLiteral("targetType");

} // namespace

DestinationTableModel::DestinationTableModel(DestinationList& list, QObject* parent)
    : QAbstractTableModel(parent), _list(list),
      _checkmark(Resources::pathFor(QStringLiteral("checkmark.svg")))
{
}

QIcon DestinationTableModel::iconForRecord(const QVariantMap& record)
{
    const QString path = record.value(Destination::KEY_DESTINATION).toString();
    if (Destination::targetType(record) != Destination::Application ||
        !ApplicationLauncher::isDesktopEntryPath(path))
        return {};
    return iconNamed(ApplicationLauncher::entryIconName(path));
}

QIcon DestinationTableModel::iconNamed(const QString& name)
{
    if (name.isEmpty())
        return {};
    if (!QFileInfo(name).isAbsolute()) {
        // A theme name is one file name; "../" would reach out of the icon folders.
        return name.contains(QLatin1Char('/')) ? QIcon() : QIcon::fromTheme(name);
    }
    // Read here, once, rather than by QIcon whenever it is painted: it would wait on a
    // FIFO for ever and keep the whole image, however large.
    const QImage image = ImageReader::readImage(name, nullptr, nullptr, kMaxIconPixels);
    if (image.isNull())
        return {};
    constexpr int kSide = 64; // crisp at the table's 16 and the chooser's 24 pixels at 2x
    return QIcon(QPixmap::fromImage(
        image.width() > kSide || image.height() > kSide
            ? image.scaled(kSide, kSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
            : image));
}

QStringList DestinationTableModel::columnIdentifiers()
{
    return {kDefaultColumn, kTypeColumn, Destination::KEY_LABEL, Destination::KEY_DESTINATION};
}

void DestinationTableModel::reload()
{
    _icons.clear();
    beginResetModel();
    endResetModel();
}

int DestinationTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : _list.count();
}

int DestinationTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(columnIdentifiers().size());
}

QVariant DestinationTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= _list.count())
        return {};
    const QString column = columnIdentifiers().value(index.column());
    const QVariantMap record = _list.recordAt(index.row());
    if (column == kDefaultColumn) {
        const bool isDefault = index.row() == _list.defaultDestination();
        if (role == Qt::DecorationRole)
            return isDefault ? _checkmark : QVariant();
        if (role == Qt::AccessibleTextRole || role == Qt::ToolTipRole)
            return isDefault ? tr("Default destination") : QVariant();
        return {};
    }
    const bool available = Destination::isAvailable(record);
    if (column == Destination::KEY_LABEL && role == Qt::DecorationRole) {
        if (!available)
            return {};
        // Asked at every paint; the entry and its icon are read once per reload.
        const QString path = record.value(Destination::KEY_DESTINATION).toString();
        auto icon = _icons.constFind(path);
        if (icon == _icons.cend())
            icon = _icons.insert(path, iconForRecord(record));
        return *icon;
    }
    if (!available && role == Qt::ForegroundRole)
        return QGuiApplication::palette().color(QPalette::Disabled, QPalette::Text);
    if (!available && role == Qt::ToolTipRole)
        return tr("This destination has no location to send to. Remove it, or add the folder "
                  "or application again.");
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    if (column == kTypeColumn)
        return Destination::nameForType(Destination::targetType(record));
    if (!available && column == Destination::KEY_DESTINATION)
        return tr("Unavailable: no location");
    return record.value(column).toString();
}

QVariant DestinationTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    const QString column = columnIdentifiers().value(section);
    if (column == kDefaultColumn)
        return tr("Default");
    if (column == kTypeColumn)
        return tr("Type");
    if (column == Destination::KEY_LABEL)
        return tr("Name");
    return tr("Location");
}

Qt::ItemFlags DestinationTableModel::flags(const QModelIndex& index) const
{
    // Never edited in place; rows drag. A row takes drops too, so that the view hands a
    // drop anywhere on it over as a drop onto it, which lands above it: without that the
    // view splits every row at its middle, and the lower half would drop below it.
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
}

QStringList DestinationTableModel::mimeTypes() const
{
    return {QStringLiteral("text/uri-list"), DestinationPboardType};
}

QMimeData* DestinationTableModel::mimeDataForRows(const QList<int>& rows)
{
    if (rows.size() != 1)
        return nullptr;
    auto* mime = new QMimeData;
    mime->setData(DestinationPboardType, PropertyList::toData(QVariantList{rows.first()}));
    return mime;
}

QMimeData* DestinationTableModel::mimeData(const QModelIndexList& indexes) const
{
    QList<int> rows;
    for (const QModelIndex& index : indexes) {
        if (index.isValid() && !rows.contains(index.row()))
            rows.append(index.row());
    }
    return mimeDataForRows(rows);
}

Qt::DropActions DestinationTableModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

Qt::DropActions DestinationTableModel::supportedDragActions() const
{
    return Qt::MoveAction;
}

DestinationTableModel::DropKind DestinationTableModel::dropKind(const QMimeData* data)
{
    // Files first, as a file manager's drag may carry other types besides.
    if (!data)
        return DropKind::None;
    if (data->hasUrls())
        return DropKind::Files;
    if (data->hasFormat(DestinationPboardType))
        return DropKind::OwnRow;
    return DropKind::None;
}

bool DestinationTableModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int, int,
                                            const QModelIndex&) const
{
    switch (dropKind(data)) {
    case DropKind::Files:
        // The list only names the files; whatever the source proposes, they stay where they
        // are (DestinationTableView answers every file drop with a copy).
        return action == Qt::CopyAction;
    case DropKind::OwnRow:
        return action == Qt::MoveAction;
    case DropKind::None:
        break;
    }
    return false;
}

bool DestinationTableModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row,
                                         int column, const QModelIndex& parent)
{
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    // A drop onto a row goes above it; below the last row the view gives -1.
    const int at = parent.isValid() ? parent.row() : row;
    const bool ownRow = dropKind(data) == DropKind::OwnRow;
    const bool accepted = acceptDrop(data, at < 0 ? _list.count() : at);
    // The row has already moved here; answering true would make the view delete the
    // dragged row as though it had been moved elsewhere.
    return accepted && !ownRow;
}

bool DestinationTableModel::acceptDrop(const QMimeData* data, int row)
{
    const DropKind kind = dropKind(data);
    if (kind == DropKind::None)
        return false;
    bool accepted = false;
    const int at = row < 0 ? 0 : row;
    if (kind == DropKind::Files) {
        const QList<QUrl> urls = data->urls();
        const QVariantMap record = !urls.isEmpty() && urls.first().isLocalFile()
                                       ? Destination::configForPath(urls.first().toLocalFile())
                                       : QVariantMap();
        if (!record.isEmpty()) {
            beginResetModel();
            _list.insert(record, at);
            endResetModel();
            emit selectRowRequested(-1);
            accepted = true;
        }
    } else {
        const QVariant rows = PropertyList::fromData(data->data(DestinationPboardType));
        const QVariantList list = rows.toList();
        bool isNumber = false;
        const int from = list.isEmpty() ? -1 : list.first().toInt(&isNumber);
        beginResetModel();
        const int now = isNumber ? _list.moveTarget(from, at) : -1;
        endResetModel();
        if (now >= 0) {
            emit selectRowRequested(now);
            accepted = true;
        }
    }
    emit dropHandled();
    return accepted;
}
