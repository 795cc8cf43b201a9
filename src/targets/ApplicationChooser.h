#pragma once

#include "targets/ApplicationLauncher.h"

#include <QDialog>
#include <QList>

class QListWidget;

// "Add Application…": the applications the desktop offers for photos, to pick one from.
class ApplicationChooser : public QDialog {
    Q_OBJECT
public:
    // The type whose applications are offered.
    static inline const QString kImageType = QStringLiteral("image/jpeg");

    explicit ApplicationChooser(const QList<ApplicationLauncher::Entry>& entries,
                                QWidget* parent = nullptr);

    // The desktop entry of the chosen application; empty when none is selected.
    QString chosenPath() const;
    QListWidget* list() const { return _list; }

    // Runs the chooser over the desktop's applications for photos; the chosen entry, or
    // empty when the user cancelled or there is none.
    static QString choose(QWidget* parent);

private:
    QListWidget* _list = nullptr;
};
