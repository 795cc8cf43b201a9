#include "FramePanel.h"

#include "ui/frames/CollectionPopUp.h"
#include "ui/frames/ThumbnailTableView.h"

#include <QAction>
#include <QHBoxLayout>
#include <QToolButton>
#include <QVBoxLayout>

FramePanel::FramePanel(const QList<QAction*>& tableActions, const QList<QAction*>& buttonActions)
{
    setObjectName(QStringLiteral("framePanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);

    _popUp = new CollectionPopUp(this);
    _popUp->setObjectName(QStringLiteral("collectionPopUp"));
    _popUp->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    _popUp->setMinimumContentsLength(12);
    _popUp->setAccessibleName(tr("Frame collection"));
    _popUp->setAccessibleDescription(tr("The collection whose frames are listed below"));
    layout->addWidget(_popUp);

    _table = new ThumbnailTableView(this);
    _table->setObjectName(QStringLiteral("thumbnailTable"));
    _table->setMinimumWidth(170);
    _table->setAccessibleName(tr("Frames"));
    _table->setAccessibleDescription(tr("Choose the frame to put around the photo"));
    _table->setContextMenuPolicy(Qt::ActionsContextMenu);
    _table->addActions(tableActions);
    layout->addWidget(_table, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    for (QAction* action : buttonActions) {
        auto* button = new QToolButton(this);
        button->setDefaultAction(action);
        button->setToolButtonStyle(action->icon().isNull() ? Qt::ToolButtonTextOnly
                                                           : Qt::ToolButtonIconOnly);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    layout->addLayout(buttons);
}
