#pragma once

#include <QDialog>
#include <QString>

class QWidget;

// Tells the user that a companion program could not be started and offers what to do,
// run through SheetHost::runPromptSheet: its buttons are tagged 1 to download the companion,
// -1 to see its product page and 0 to do nothing.
class CompanionPanel : public QDialog {
    Q_OBJECT
public:
    // name is the companion's ("Trimlet"); purpose says in a sentence what it does.
    CompanionPanel(const QString& name, const QString& purpose, QWidget* parent = nullptr);
};
