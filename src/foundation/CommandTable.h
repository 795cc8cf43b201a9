#pragma once

#include <QCoreApplication>
#include <QKeySequence>
#include <QString>
#include <QStringList>

#include <vector>

// Every command of the window in one table, as data: the features make their actions from
// it and run them, the window puts those actions into its menus and toolbar by identifier
// and enables them by the one rule below, so a command cannot be enabled in one place and
// missing from another.
namespace CommandTable {

// When a command can run (and none can while the document is busy).
enum class Rule {
    Always,       // no photo needed
    NeedsPhoto,   // a photo is open
    PhotoBrowser, // the photo browser is installed
};

// What the rule looks at.
struct State {
    bool hasPhoto = false;
    bool busy = false; // an export runs or a photo is being read
    bool photoBrowserAvailable = false;
    bool customizing = false; // the toolbar is being edited: its items are no commands then
};

// Nothing runs while busy or while the toolbar is edited; then the rule decides.
bool isEnabled(Rule rule, const State& state);

struct Command {
    const char* identifier;                // also the action's object name
    const char* text;                      // menu text, translated in the "CommandTable" context
    QKeySequence::StandardKey standardKey; // QKeySequence::UnknownKey: none
    QKeySequence fallbackKey;              // when the platform has no standard key, or besides it
    const char* icon;                      // toolbar image under resources/toolbar, or nullptr
    const char* iconText; // toolbar label when it differs from the text, or nullptr
    const char* toolTip;  // or nullptr
    Rule rule;
    const char* menu;     // a name of menus(), or nullptr: toolbar only
    bool separatorBefore; // in its menu
};

const std::vector<Command>& commands();
const Command* command(const QString& identifier);

// The toolbar's items: the identifiers are kept in the saved toolbar configuration.
inline constexpr const char* kToolbarIdentifier = "VellumaToolbar202";
inline constexpr const char* kShowColors = "showColors";
inline constexpr const char* kFlexibleSpace = "flexibleSpace";
inline constexpr const char* kSeparator = "separator";
inline constexpr const char* kCustomize = "customize";

struct ToolbarItem {
    const char* identifier;
    const char* command;      // the command it runs; nullptr for the space and the separator
    const char* label;        // under the icon when the toolbar shows labels
    const char* paletteLabel; // in the customisation dialog
};

// Every item the user may put on the toolbar, in the order the dialog offers them.
const std::vector<ToolbarItem>& toolbarItems();
const ToolbarItem* toolbarItem(const QString& identifier);
QStringList allowedToolbarItems();
QStringList defaultToolbarItems();

// The menus in the menu bar's order, with their titles.
struct Menu {
    const char* name;  // as Command::menu names it
    const char* title; // translated in the "CommandTable" context
};
const std::vector<Menu>& menus();

} // namespace CommandTable
