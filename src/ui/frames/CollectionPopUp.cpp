#include "CollectionPopUp.h"

#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QWheelEvent>

void CollectionPopUp::addCollection(const QString& name, int collection)
{
    addItem(name);
    setItemData(count() - 1, collection, CollectionRole);
}

void CollectionPopUp::addCommand(const QString& title, int command)
{
    addItem(title);
    setItemData(count() - 1, command, CommandRole);
}

int CollectionPopUp::collectionAt(int row) const
{
    const QVariant collection = itemData(row, CollectionRole);
    return collection.isValid() ? collection.toInt() : -1;
}

int CollectionPopUp::commandAt(int row) const
{
    return itemData(row, CommandRole).toInt();
}

int CollectionPopUp::rowOfCollection(int collection) const
{
    return collection < 0 ? -1 : findData(collection, CollectionRole);
}

int CollectionPopUp::rowOfCommand(int command) const
{
    return findData(command, CommandRole);
}

int CollectionPopUp::firstCollectionRow() const
{
    for (int row = 0; row < count(); ++row) {
        if (collectionAt(row) >= 0)
            return row;
    }
    return -1;
}

void CollectionPopUp::setCommandEnabled(int command, bool enabled)
{
    auto* items = qobject_cast<QStandardItemModel*>(model());
    if (QStandardItem* item = items ? items->item(rowOfCommand(command)) : nullptr)
        item->setEnabled(enabled);
}

bool CollectionPopUp::isRowEnabled(int row) const
{
    return model()->flags(model()->index(row, modelColumn())) & Qt::ItemIsEnabled;
}

void CollectionPopUp::keyPressEvent(QKeyEvent* event)
{
    const int from = currentIndex();
    {
        // The step is judged first; only an allowed one is reported.
        const QSignalBlocker blocker(this);
        QComboBox::keyPressEvent(event);
    }
    const int to = currentIndex();
    if (to == from)
        return;
    if (collectionAt(to) < 0) {
        const QSignalBlocker blocker(this);
        setCurrentIndex(from);
        return;
    }
    emit currentIndexChanged(to);
    emit currentTextChanged(currentText());
    emit activated(to);
    emit textActivated(currentText());
}

void CollectionPopUp::wheelEvent(QWheelEvent* event)
{
    event->ignore();
}
