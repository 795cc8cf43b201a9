#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QString>
#include <QStringList>

class QListWidget;
class QListWidgetItem;

// Lets the user pick and order a toolbar's items: the items not on the toolbar on the
// left, the toolbar's on the right in their order (dragged to reorder), a way back to the
// default set. Spaces and separators may appear any number of times; every other item once.
class ToolbarCustomizer : public QDialog {
    Q_OBJECT
public:
    struct Item {
        QString identifier;
        QString paletteLabel;
        QIcon icon;
        bool repeatable = false;
    };

    // allowed: every item that may go on the toolbar, in the order offered.
    ToolbarCustomizer(QList<Item> allowed, QStringList defaultItems, const QStringList& current,
                      QWidget* parent = nullptr);

    // The toolbar as chosen so far, in order.
    QStringList items() const;
    // The items offered that are not on the toolbar (and every repeatable one).
    QStringList available() const;
    // Adds the item at the end of the toolbar; false for one that is not allowed or already
    // there.
    bool addItem(const QString& identifier);
    // Takes the item at the toolbar's row off.
    void removeRow(int row);
    void moveRow(int from, int to);
    void useDefaultSet();

private:
    const Item* find(const QString& identifier) const;
    QListWidgetItem* makeRow(const Item& item) const;
    void setItems(const QStringList& identifiers);
    void refreshAvailable();

    QList<Item> _allowed;
    QStringList _defaultItems;
    QListWidget* _availableList = nullptr;
    QListWidget* _toolbarList = nullptr;
};
