#include "CommandActions.h"

#include "foundation/CommandTable.h"
#include "foundation/Resources.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>

namespace {

QString translated(const char* text)
{
    return text ? QCoreApplication::translate("CommandTable", text) : QString();
}

QList<QKeySequence> shortcutsFor(const CommandTable::Command& command)
{
    QList<QKeySequence> keys;
    if (command.standardKey != QKeySequence::UnknownKey)
        keys = QKeySequence::keyBindings(command.standardKey);
    if (!command.fallbackKey.isEmpty() && !keys.contains(command.fallbackKey))
        keys.append(command.fallbackKey);
    return keys;
}

} // namespace

namespace CommandActions {

QAction* make(const char* identifier, QObject* parent)
{
    const CommandTable::Command* command = CommandTable::command(QLatin1String(identifier));
    if (!command)
        return nullptr;
    auto* action = new QAction(translated(command->text), parent);
    action->setObjectName(QLatin1String(command->identifier));
    action->setShortcuts(shortcutsFor(*command));
    if (command->icon)
        action->setIcon(
            QIcon(Resources::pathFor(QStringLiteral("toolbar/%1.svg").arg(command->icon))));
    if (command->iconText)
        action->setIconText(translated(command->iconText));
    if (command->toolTip)
        action->setToolTip(translated(command->toolTip));
    // Under its icon the toolbar item's own label.
    for (const CommandTable::ToolbarItem& item : CommandTable::toolbarItems()) {
        if (item.command && QLatin1String(item.command) == QLatin1String(identifier))
            action->setIconText(translated(item.label));
    }
    return action;
}

} // namespace CommandActions
