#pragma once

#include "targets/ApplicationLauncher.h"

#include <QDialog>
#include <QList>

class QLabel;
class QListWidget;
class QPushButton;

// "Add Application…": the applications the desktop offers for photos, to pick one from,
// and "Other…" for any program: an executable, a desktop entry or an ".app" folder, as a
// drop on the setup table takes them.
class ApplicationChooser : public QDialog {
    Q_OBJECT
public:
    // The type whose applications are offered.
    static inline const QString kImageType = QStringLiteral("image/jpeg");

    explicit ApplicationChooser(const QList<ApplicationLauncher::Entry>& entries,
                                QWidget* parent = nullptr);

    // The desktop entry of the chosen application, or the program taken by "Other…";
    // empty when none is selected.
    QString chosenPath() const;
    QListWidget* list() const { return _list; }
    QPushButton* otherButton() const { return _otherButton; }

    // Ends the chooser with that program when it is an application; otherwise says why
    // and stays open. "Other…" hands the file the user picked here.
    bool takeOther(const QString& path);
    // The file dialog of "Other…". An ".app" folder is a program to choose, not a folder
    // to look into: opening one chooses it.
    static QString chooseOther(QWidget* parent);

    // Runs the chooser over the desktop's applications for photos; the chosen entry, or
    // empty when the user cancelled or there is none.
    static QString choose(QWidget* parent);

private:
    QListWidget* _list = nullptr;
    QPushButton* _otherButton = nullptr;
    QLabel* _otherNote = nullptr;
    QString _other;
};
