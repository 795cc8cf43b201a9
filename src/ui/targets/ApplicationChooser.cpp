#include "ApplicationChooser.h"

#include "targets/Destination.h"
#include "ui/targets/DestinationTableModel.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
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
        auto* item = new QListWidgetItem(DestinationTableModel::iconNamed(entry.iconName),
                                         entry.name, _list);
        item->setData(Qt::UserRole, entry.path);
        item->setToolTip(entry.path);
    }
    if (entries.isEmpty())
        layout->addWidget(new QLabel(tr("No application on this computer says it opens photos. "
                                        "Choose Other… to pick a program."),
                                     this));
    layout->addWidget(_list, 1);
    _otherNote = new QLabel(this);
    _otherNote->setWordWrap(true);
    _otherNote->hide();
    layout->addWidget(_otherNote);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    _otherButton = buttons->addButton(tr("Other…"), QDialogButtonBox::ActionRole);
    _otherButton->setObjectName(QStringLiteral("otherApplicationButton"));
    _otherButton->setAutoDefault(false);
    connect(_otherButton, &QPushButton::clicked, this, [this] {
        const QString path = chooseOther(this);
        if (!path.isEmpty())
            takeOther(path);
    });
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
    if (!_other.isEmpty())
        return _other;
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

bool ApplicationChooser::takeOther(const QString& path)
{
    if (!Destination::isApp(path)) {
        _otherNote->setText(tr("“%1” is no application. Choose a program, a desktop entry "
                               "(.desktop) or an application folder (.app).")
                                .arg(QFileInfo(path).fileName()));
        _otherNote->show();
        return false;
    }
    _other = path;
    accept();
    return true;
}

QString ApplicationChooser::chooseOther(QWidget* parent)
{
    QFileDialog dialog(parent, tr("Choose an Application"), QDir::homePath());
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    dialog.setLabelText(QFileDialog::Accept, tr("Choose"));
    // The platform's own dialog would only look into an ".app" folder.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    QString package;
    auto* files = dialog.findChild<QFileSystemModel*>();
    if (files) {
        connect(files, &QFileSystemModel::rootPathChanged, &dialog,
                [&dialog, &package](const QString& folder) {
                    if (!Destination::isPackage(folder))
                        return;
                    package = folder;
                    static_cast<QDialog&>(dialog).done(QDialog::Accepted);
                });
    }
    if (dialog.exec() != QDialog::Accepted)
        return {};
    if (!package.isEmpty())
        return package;
    return dialog.selectedFiles().value(0);
}
