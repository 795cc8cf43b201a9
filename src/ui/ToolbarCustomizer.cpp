#include "ToolbarCustomizer.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kIdentifierRole = Qt::UserRole;
}

ToolbarCustomizer::ToolbarCustomizer(QList<Item> allowed, QStringList defaultItems,
                                     const QStringList& current, QWidget* parent)
    : QDialog(parent), _allowed(std::move(allowed)), _defaultItems(std::move(defaultItems))
{
    setWindowTitle(tr("Customize Toolbar"));
    resize(560, 400);
    _availableList = new QListWidget(this);
    _availableList->setObjectName(QStringLiteral("availableItems"));
    _toolbarList = new QListWidget(this);
    _toolbarList->setObjectName(QStringLiteral("toolbarItems"));
    _toolbarList->setDragDropMode(QAbstractItemView::InternalMove);
    _toolbarList->setDefaultDropAction(Qt::MoveAction);
    for (QListWidget* list : {_availableList, _toolbarList})
        list->setIconSize(QSize(24, 24));

    auto* add = new QPushButton(tr("Add"), this);
    auto* remove = new QPushButton(tr("Remove"), this);
    auto* defaults = new QPushButton(tr("Use Default Set"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->addButton(defaults, QDialogButtonBox::ResetRole);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("Available items:"), this), 0, 0);
    grid->addWidget(new QLabel(tr("Toolbar (drag to reorder):"), this), 0, 2);
    grid->addWidget(_availableList, 1, 0);
    auto* middle = new QVBoxLayout;
    middle->addStretch();
    middle->addWidget(add);
    middle->addWidget(remove);
    middle->addStretch();
    grid->addLayout(middle, 1, 1);
    grid->addWidget(_toolbarList, 1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);

    connect(add, &QPushButton::clicked, this, [this] {
        if (QListWidgetItem* row = _availableList->currentItem())
            addItem(row->data(kIdentifierRole).toString());
    });
    connect(_availableList, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* row) { addItem(row->data(kIdentifierRole).toString()); });
    connect(remove, &QPushButton::clicked, this, [this] {
        if (_toolbarList->currentRow() >= 0)
            removeRow(_toolbarList->currentRow());
    });
    connect(defaults, &QPushButton::clicked, this, &ToolbarCustomizer::useDefaultSet);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    setItems(current);
}

const ToolbarCustomizer::Item* ToolbarCustomizer::find(const QString& identifier) const
{
    for (const Item& item : _allowed) {
        if (item.identifier == identifier)
            return &item;
    }
    return nullptr;
}

QListWidgetItem* ToolbarCustomizer::makeRow(const Item& item) const
{
    auto* row = new QListWidgetItem(item.icon, item.paletteLabel);
    row->setData(kIdentifierRole, item.identifier);
    // Rows are moved within the toolbar list, never dropped onto one another.
    row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
    return row;
}

QStringList ToolbarCustomizer::items() const
{
    QStringList identifiers;
    for (int i = 0; i < _toolbarList->count(); ++i)
        identifiers << _toolbarList->item(i)->data(kIdentifierRole).toString();
    return identifiers;
}

QStringList ToolbarCustomizer::available() const
{
    QStringList identifiers;
    for (int i = 0; i < _availableList->count(); ++i)
        identifiers << _availableList->item(i)->data(kIdentifierRole).toString();
    return identifiers;
}

bool ToolbarCustomizer::addItem(const QString& identifier)
{
    const Item* item = find(identifier);
    if (!item || (!item->repeatable && items().contains(identifier)))
        return false;
    _toolbarList->addItem(makeRow(*item));
    refreshAvailable();
    return true;
}

void ToolbarCustomizer::removeRow(int row)
{
    delete _toolbarList->takeItem(row);
    refreshAvailable();
}

void ToolbarCustomizer::moveRow(int from, int to)
{
    if (QListWidgetItem* row = _toolbarList->takeItem(from))
        _toolbarList->insertItem(to, row);
}

void ToolbarCustomizer::useDefaultSet()
{
    setItems(_defaultItems);
}

void ToolbarCustomizer::setItems(const QStringList& identifiers)
{
    _toolbarList->clear();
    for (const QString& identifier : identifiers) {
        // An item this version does not offer stays where it is until the user takes it off.
        if (!find(identifier) && !items().contains(identifier))
            _toolbarList->addItem(makeRow({identifier, identifier, QIcon(), false}));
        else
            addItem(identifier);
    }
    refreshAvailable();
}

void ToolbarCustomizer::refreshAvailable()
{
    const QStringList onToolbar = items();
    _availableList->clear();
    for (const Item& item : _allowed) {
        if (item.repeatable || !onToolbar.contains(item.identifier))
            _availableList->addItem(makeRow(item));
    }
}
