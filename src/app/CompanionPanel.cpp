#include "CompanionPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CompanionPanel::CompanionPanel(const QString& name, const QString& purpose, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(name.toLower() + QStringLiteral("Panel"));
    setWindowTitle(tr("%1 Not Found").arg(name));

    auto* heading = new QLabel(tr("%1 could not be started").arg(name), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    auto* text = new QLabel(
        purpose + QStringLiteral("\n\n") +
            tr("Velluma hands the framed photo to %1 when it finds it: as an application of "
               "your desktop, as a program named \"%2\" on your PATH, or in the Applications "
               "folder of your home folder.")
                .arg(name, name.toLower()),
        this);
    text->setWordWrap(true);
    text->setTextFormat(Qt::PlainText);
    text->setMinimumWidth(380);

    auto* download = new QPushButton(tr("Download %1").arg(name), this);
    download->setObjectName(QStringLiteral("downloadButton"));
    download->setProperty("tag", 1);
    download->setDefault(true);
    auto* page = new QPushButton(tr("Learn More"), this);
    page->setObjectName(QStringLiteral("productPageButton"));
    page->setProperty("tag", -1);
    page->setAutoDefault(false);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setProperty("tag", 0);
    cancel->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(page);
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(download);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(text);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    setSizeGripEnabled(false);
}
