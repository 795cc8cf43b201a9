#include "ApplicationChooser.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

ApplicationChooser::ApplicationChooser(const QList<ApplicationLauncher::Entry>& entries,
                                       QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("applicationChooser"));
    setWindowTitle(tr("Add Application"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Choose an application to send photos to:"), this));
    _list = new QListWidget(this);
    _list->setObjectName(QStringLiteral("applicationList"));
    _list->setIconSize(QSize(24, 24));
    for (const ApplicationLauncher::Entry& entry : entries) {
        const QIcon icon = QFileInfo(entry.iconName).isAbsolute()
                               ? QIcon(entry.iconName)
                               : QIcon::fromTheme(entry.iconName);
        auto* item = new QListWidgetItem(icon, entry.name, _list);
        item->setData(Qt::UserRole, entry.path);
        item->setToolTip(entry.path);
    }
    if (entries.isEmpty())
        layout->addWidget(new QLabel(tr("No application on this computer says it opens photos. "
                                        "Drop a program into the list instead."),
                                     this));
    layout->addWidget(_list, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Add"));
    buttons->button(QDialogButtonBox::Ok)->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(_list, &QListWidget::currentItemChanged, this, [buttons](QListWidgetItem* current) {
        buttons->button(QDialogButtonBox::Ok)->setEnabled(current != nullptr);
    });
    connect(_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    layout->addWidget(buttons);
    resize(380, 420);
}

QString ApplicationChooser::chosenPath() const
{
    const QListWidgetItem* item = _list->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

QString ApplicationChooser::choose(QWidget* parent)
{
    ApplicationChooser chooser(ApplicationLauncher::applicationsForType(kImageType), parent);
    chooser.setWindowModality(Qt::WindowModal);
    if (chooser.exec() != QDialog::Accepted)
        return {};
    return chooser.chosenPath();
}
