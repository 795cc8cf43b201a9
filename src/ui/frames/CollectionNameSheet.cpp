#include "CollectionNameSheet.h"

#include "ui/SheetHost.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CollectionNameSheet::CollectionNameSheet(const QString& objectName, const QString& prompt,
                                         const QString& confirmTitle)
{
    setObjectName(objectName);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(prompt, this));
    _nameField = new QLineEdit(this);
    _nameField->setObjectName(QStringLiteral("nameField"));
    _nameField->setMinimumWidth(260);
    layout->addWidget(_nameField);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setProperty("tag", 0);
    cancel->setAutoDefault(false);
    auto* confirm = new QPushButton(confirmTitle, this);
    confirm->setObjectName(QStringLiteral("confirmButton"));
    confirm->setProperty("tag", 1);
    confirm->setDefault(true);
    row->addWidget(cancel);
    row->addWidget(confirm);
    layout->addLayout(row);
}

std::optional<QString> CollectionNameSheet::ask(SheetHost* host, const QString& name)
{
    _nameField->setText(name);
    _nameField->selectAll();
    if (!host || host->runPromptSheet(this) == 0)
        return std::nullopt;
    return _nameField->text().trimmed();
}
