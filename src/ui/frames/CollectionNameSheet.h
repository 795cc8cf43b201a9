#pragma once

#include <QDialog>
#include <QString>

#include <optional>

class QLineEdit;
class SheetHost;

// The panel asking for a frame set's name: a prompt, a name field ("nameField") and the
// buttons "cancelButton" (tag 0) and "confirmButton" (tag 1), run through a SheetHost.
class CollectionNameSheet : public QDialog {
    Q_OBJECT
public:
    CollectionNameSheet(const QString& objectName, const QString& prompt,
                        const QString& confirmTitle);

    // Shows name selected in the field; the trimmed name typed, or none when cancelled or
    // when there is no host to run the sheet.
    std::optional<QString> ask(SheetHost* host, const QString& name);

private:
    QLineEdit* _nameField = nullptr;
};
