#pragma once

#include <QComboBox>

// The collection pop-up: the built-in sets, a separator, the user's sets, a separator,
// then the collection commands. Each set's item carries its collection's number, each
// command's item its command; separators carry neither.
//
// A closed QComboBox steps through its items on the arrow keys and on typed letters and
// reports every step as activated(); at the end of the list that would run the commands.
// Here a key selects only a set and stays put otherwise; a command runs only when picked
// from the open list. The wheel does nothing: scrolling the panel is no choice of a set.
class CollectionPopUp : public QComboBox {
    Q_OBJECT
public:
    enum Role { CommandRole = Qt::UserRole, CollectionRole };

    using QComboBox::QComboBox;

    void addCollection(const QString& name, int collection);
    void addCommand(const QString& title, int command);

    // The item's collection, or -1; its command, or 0.
    int collectionAt(int row) const;
    int commandAt(int row) const;
    int rowOfCollection(int collection) const;
    int rowOfCommand(int command) const;
    int firstCollectionRow() const;

    void setCommandEnabled(int command, bool enabled);
    bool isRowEnabled(int row) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
};
