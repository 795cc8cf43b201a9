#include "DestinationSetupSheet.h"

#include "targets/Destination.h"
#include "targets/DestinationList.h"
#include "ui/targets/ApplicationChooser.h"
#include "ui/targets/DestinationTableModel.h"
#include "ui/targets/DestinationTableView.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

DestinationSetupSheet::DestinationSetupSheet(UserDefaults& defaults, DestinationList& workingCopy,
                                             QWidget* parent)
    : QDialog(parent), _defaults(defaults), _list(workingCopy)
{
    setObjectName(QStringLiteral("setupSheet"));
    setWindowTitle(tr("Setup Destinations"));
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(tr("Drag folders and applications into the list, or add them with "
                               "the buttons. Drag rows to change the order; double-click a row "
                               "to make it the default, which a double-click on the picture "
                               "sends to."),
                            this);
    note->setWordWrap(true);
    layout->addWidget(note);

    _model = new DestinationTableModel(_list, this);
    _tableView = new DestinationTableView(this);
    _tableView->setObjectName(QStringLiteral("destinationTable"));
    _tableView->setModel(_model);
    _tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    _tableView->setSelectionMode(QAbstractItemView::SingleSelection);
    _tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    _tableView->setDragEnabled(true);
    _tableView->setAcceptDrops(true);
    _tableView->setDropIndicatorShown(true);
    _tableView->setDragDropMode(QAbstractItemView::DragDrop);
    _tableView->setDragDropOverwriteMode(false);
    _tableView->setDefaultDropAction(Qt::MoveAction);
    _tableView->setShowGrid(false);
    _tableView->setWordWrap(false);
    // Paths differ at their end more often than at their start.
    _tableView->setTextElideMode(Qt::ElideMiddle);
    _tableView->setIconSize(QSize(16, 16));
    _tableView->verticalHeader()->hide();
    _tableView->verticalHeader()->setDefaultSectionSize(24);
    QHeaderView* header = _tableView->horizontalHeader();
    header->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    header->resizeSection(2, 180);
    header->setStretchLastSection(true);
    layout->addWidget(_tableView, 1);

    auto* editRow = new QHBoxLayout;
    auto* addApp = new QPushButton(tr("Add Application…"), this);
    addApp->setObjectName(QStringLiteral("addApplicationButton"));
    auto* addFolderButton = new QPushButton(tr("Add Folder…"), this);
    addFolderButton->setObjectName(QStringLiteral("addFolderButton"));
    _removeBtn = new QPushButton(tr("Remove"), this);
    _removeBtn->setObjectName(QStringLiteral("removeButton"));
    _setDefaultBtn = new QPushButton(tr("Set Default"), this);
    _setDefaultBtn->setObjectName(QStringLiteral("setDefaultButton"));
    _revertButton = new QPushButton(tr("Revert"), this);
    _revertButton->setObjectName(QStringLiteral("revertButton"));
    for (QPushButton* button : {addApp, addFolderButton, _removeBtn, _setDefaultBtn})
        editRow->addWidget(button);
    editRow->addStretch(1);
    editRow->addWidget(_revertButton);
    layout->addLayout(editRow);

    auto* endRow = new QHBoxLayout;
    _cancelButton = new QPushButton(tr("Cancel"), this);
    _cancelButton->setObjectName(QStringLiteral("cancelButton"));
    _cancelButton->setProperty("tag", 0);
    _okButton = new QPushButton(tr("OK"), this);
    _okButton->setObjectName(QStringLiteral("okButton"));
    _okButton->setProperty("tag", 1);
    _okButton->setDefault(true);
    endRow->addStretch(1);
    endRow->addWidget(_cancelButton);
    endRow->addWidget(_okButton);
    layout->addLayout(endRow);
    // Every button but OK and Cancel has an action of its own, so the sheet's runner ends
    // the sheet with those two only.
    for (QPushButton* button : {addApp, addFolderButton, _removeBtn, _setDefaultBtn, _revertButton})
        button->setAutoDefault(false);

    connect(addApp, &QPushButton::clicked, this, &DestinationSetupSheet::addApplication);
    connect(addFolderButton, &QPushButton::clicked, this, &DestinationSetupSheet::addFolder);
    connect(_removeBtn, &QPushButton::clicked, this, &DestinationSetupSheet::removeTarget);
    connect(_setDefaultBtn, &QPushButton::clicked, this, &DestinationSetupSheet::setDefault);
    connect(_revertButton, &QPushButton::clicked, this, &DestinationSetupSheet::revert);
    connect(_tableView, &QTableView::doubleClicked, this, &DestinationSetupSheet::setDefault);
    connect(_tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &DestinationSetupSheet::_selectionDidChange);
    connect(_model, &QAbstractItemModel::modelReset, this,
            &DestinationSetupSheet::_selectionDidChange);
    connect(_model, &DestinationTableModel::dropHandled, this,
            [this] { _revertButton->setEnabled(true); });
    connect(_model, &DestinationTableModel::selectRowRequested, this,
            &DestinationSetupSheet::selectRow);
    resize(640, 380);
}

void DestinationSetupSheet::prepare()
{
    _list.load(_defaults);
    _model->reload();
    selectRow(-1);
    _tableView->scrollToTop();
    _selectionDidChange();
    _revertButton->setEnabled(false);
}

int DestinationSetupSheet::selectedRow() const
{
    const QModelIndexList rows = _tableView->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void DestinationSetupSheet::selectRow(int row)
{
    if (row < 0 || row >= _model->rowCount()) {
        // The current cell too, or its focus frame would mark a row as though chosen.
        _tableView->selectionModel()->clear();
        return;
    }
    _tableView->selectRow(row);
    _tableView->scrollTo(_model->index(row, 0));
}

void DestinationSetupSheet::_selectionDidChange()
{
    const int row = selectedRow();
    _removeBtn->setEnabled(row >= 0);
    _setDefaultBtn->setEnabled(row >= 0 && row != _list.defaultDestination());
}

void DestinationSetupSheet::setDefault()
{
    const int row = selectedRow();
    if (row >= 0 && row != _list.defaultDestination()) {
        _list.setDefaultDestination(row);
        // The check mark moves; the selection stays where it was.
        emit _model->dataChanged(_model->index(0, 0), _model->index(_model->rowCount() - 1, 0));
        _revertButton->setEnabled(true);
    }
    _setDefaultBtn->setEnabled(false);
}

void DestinationSetupSheet::removeTarget()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    _list.removeAt(row);
    _model->reload();
    selectRow(-1);
    _revertButton->setEnabled(true);
}

void DestinationSetupSheet::revert()
{
    _list.load(_defaults);
    _model->reload();
    _revertButton->setEnabled(false);
}

bool DestinationSetupSheet::addPath(const QString& path)
{
    const QVariantMap record = Destination::configForPath(path);
    if (record.isEmpty())
        return false;
    const int row = _list.insert(record, _list.count());
    _model->reload();
    selectRow(row);
    _revertButton->setEnabled(true);
    return true;
}

void DestinationSetupSheet::addApplication()
{
    const QString path = ApplicationChooser::choose(this);
    if (!path.isEmpty())
        addPath(path);
}

void DestinationSetupSheet::addFolder()
{
    QFileDialog dialog(this, tr("Add Folder"), QDir::homePath());
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setLabelText(QFileDialog::Accept, tr("Add"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    addPath(dialog.selectedFiles().constFirst());
}
