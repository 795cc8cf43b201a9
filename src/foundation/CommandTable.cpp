#include "CommandTable.h"

#include <QStringList>

namespace CommandTable {

namespace {

using K = QKeySequence;
constexpr auto None = QKeySequence::UnknownKey;

} // namespace

bool isEnabled(Rule rule, const State& state)
{
    if (state.busy || state.customizing)
        return false;
    switch (rule) {
    case Rule::Always:
        return true;
    case Rule::NeedsPhoto:
        return state.hasPhoto;
    case Rule::PhotoBrowser:
        return state.photoBrowserAvailable;
    }
    return false;
}

const std::vector<Command>& commands()
{
    // QT_TRANSLATE_NOOP marks the texts; CommandActions translates them in this context.
    static const std::vector<Command> table = {
        {"open", QT_TRANSLATE_NOOP("CommandTable", "&Open..."), K::Open, K(), "openToolbarItem",
         nullptr, QT_TRANSLATE_NOOP("CommandTable", "Open image"), Rule::Always, "File", false},
        {"frameSeveral", QT_TRANSLATE_NOOP("CommandTable", "Frame Se&veral Photos..."), None, K(),
         nullptr, nullptr, nullptr, Rule::Always, "File", false},
        {"photoBrowser", QT_TRANSLATE_NOOP("CommandTable", "&Browse Photos..."), None, K(), nullptr,
         nullptr, nullptr, Rule::PhotoBrowser, "File", false},
        {"save", QT_TRANSLATE_NOOP("CommandTable", "&Save As..."), K::Save,
         K(Qt::CTRL | Qt::SHIFT | Qt::Key_S), "saveToolbarItem", nullptr,
         QT_TRANSLATE_NOOP("CommandTable", "Save image"), Rule::NeedsPhoto, "File", false},
        {"close", QT_TRANSLATE_NOOP("CommandTable", "C&lose Image"), K::Close, K(),
         "clearToolbarItem", nullptr, QT_TRANSLATE_NOOP("CommandTable", "Clear image"),
         Rule::NeedsPhoto, "File", false},
        {"sendToTrimlet", QT_TRANSLATE_NOOP("CommandTable", "Send to &Trimlet"), None, K(),
         "trimletToolbarItem", QT_TRANSLATE_NOOP("CommandTable", "Trimlet"),
         QT_TRANSLATE_NOOP("CommandTable", "Send to Trimlet"), Rule::NeedsPhoto, "File", true},
        {"sendToShuttlebox", QT_TRANSLATE_NOOP("CommandTable", "Send to S&huttlebox"), None, K(),
         "shuttleboxToolbarItem", QT_TRANSLATE_NOOP("CommandTable", "Shuttlebox"),
         QT_TRANSLATE_NOOP("CommandTable", "Send to Shuttlebox"), Rule::NeedsPhoto, "File", false},
        {"quit", QT_TRANSLATE_NOOP("CommandTable", "&Quit"), K::Quit, K(Qt::CTRL | Qt::Key_Q),
         nullptr, nullptr, nullptr, Rule::Always, "File", true},
        {"copy", QT_TRANSLATE_NOOP("CommandTable", "&Copy"), K::Copy, K(), "copyToolbarItem",
         nullptr, QT_TRANSLATE_NOOP("CommandTable", "Copy image to clipboard"), Rule::NeedsPhoto,
         "Edit", false},
        {"paste", QT_TRANSLATE_NOOP("CommandTable", "&Paste"), K::Paste, K(), nullptr, nullptr,
         nullptr, Rule::Always, "Edit", false},
        // The menu's flip works without a photo too (it flips the chosen frame); the
        // toolbar's waits for one.
        {"flipFrame", QT_TRANSLATE_NOOP("CommandTable", "&Flip Frame Horizontally"), None,
         K(Qt::CTRL | Qt::Key_F), nullptr, nullptr, nullptr, Rule::Always, "Frame", false},
        {"preferences", QT_TRANSLATE_NOOP("CommandTable", "Pr&eferences..."), K::Preferences,
         K(Qt::CTRL | Qt::Key_Comma), "preferencesToolbarItem", nullptr,
         QT_TRANSLATE_NOOP("CommandTable", "Preferences"), Rule::Always, "Edit", false},
        {"colors", QT_TRANSLATE_NOOP("CommandTable", "Show &Colors"), None,
         K(Qt::CTRL | Qt::SHIFT | Qt::Key_C), "colorsToolbarItem", nullptr,
         QT_TRANSLATE_NOOP("CommandTable", "Show the color dialog"), Rule::NeedsPhoto, "Window",
         false},
        {"showFrames", QT_TRANSLATE_NOOP("CommandTable", "&Show Frames"), None, K(), nullptr,
         nullptr, nullptr, Rule::Always, "Frame", true},
        {"zoom", QT_TRANSLATE_NOOP("CommandTable", "&Zoom"), None, K(), nullptr, nullptr, nullptr,
         Rule::Always, "Window", true},
        {"flipH", QT_TRANSLATE_NOOP("CommandTable", "&Flip Frame Horizontally"), None, K(),
         "flipHToolbarItem", QT_TRANSLATE_NOOP("CommandTable", "Flip H"),
         QT_TRANSLATE_NOOP("CommandTable", "Flip Border Horizontally"), Rule::NeedsPhoto, nullptr,
         false},
        {"customizeToolbar", QT_TRANSLATE_NOOP("CommandTable", "Customize &Toolbar..."), None, K(),
         "customizeToolbarItem", QT_TRANSLATE_NOOP("CommandTable", "Customize"),
         QT_TRANSLATE_NOOP("CommandTable", "Customize the toolbar"), Rule::Always, "Window", true},
        {"refreshFrames", QT_TRANSLATE_NOOP("CommandTable", "&Refresh Frames"), None, K(), nullptr,
         nullptr, nullptr, Rule::Always, "Frame", false},
        {"website", QT_TRANSLATE_NOOP("CommandTable", "Velluma &Web Site"), K::HelpContents, K(),
         nullptr, nullptr, nullptr, Rule::Always, "Help", false},
        {"feedback", QT_TRANSLATE_NOOP("CommandTable", "Send &Feedback..."), None, K(), nullptr,
         nullptr, nullptr, Rule::Always, "Help", false},
        {"downloadTrimlet", QT_TRANSLATE_NOOP("CommandTable", "Download T&rimlet..."), None, K(),
         nullptr, nullptr, nullptr, Rule::Always, "Help", true},
        {"downloadShuttlebox", QT_TRANSLATE_NOOP("CommandTable", "Download S&huttlebox..."), None,
         K(), nullptr, nullptr, nullptr, Rule::Always, "Help", false},
        {"checkForUpdates", QT_TRANSLATE_NOOP("CommandTable", "Check for &Updates..."), None, K(),
         nullptr, nullptr, nullptr, Rule::Always, "Help", true},
        {"about", QT_TRANSLATE_NOOP("CommandTable", "&About Velluma"), None, K(), nullptr, nullptr,
         nullptr, Rule::Always, "Help", true},
    };
    return table;
}

const Command* command(const QString& identifier)
{
    for (const Command& c : commands()) {
        if (identifier == QLatin1String(c.identifier))
            return &c;
    }
    return nullptr;
}

const std::vector<ToolbarItem>& toolbarItems()
{
    static const std::vector<ToolbarItem> items = {
        {"ZTOpen", "open", QT_TRANSLATE_NOOP("CommandTable", "Open"),
         QT_TRANSLATE_NOOP("CommandTable", "Open")},
        {"ZTSave", "save", QT_TRANSLATE_NOOP("CommandTable", "Save"),
         QT_TRANSLATE_NOOP("CommandTable", "Save")},
        {"ZTCopy", "copy", QT_TRANSLATE_NOOP("CommandTable", "Copy"),
         QT_TRANSLATE_NOOP("CommandTable", "Copy")},
        {"ZTClear", "close", QT_TRANSLATE_NOOP("CommandTable", "Clear"),
         QT_TRANSLATE_NOOP("CommandTable", "Clear")},
        {kShowColors, "colors", QT_TRANSLATE_NOOP("CommandTable", "Colors"),
         QT_TRANSLATE_NOOP("CommandTable", "Colors")},
        {"FlipH", "flipH", QT_TRANSLATE_NOOP("CommandTable", "Flip H"),
         QT_TRANSLATE_NOOP("CommandTable", "Flip Horizontal")},
        {"Trimlet", "sendToTrimlet", QT_TRANSLATE_NOOP("CommandTable", "Trimlet"),
         QT_TRANSLATE_NOOP("CommandTable", "Trimlet")},
        {"Shuttlebox", "sendToShuttlebox", QT_TRANSLATE_NOOP("CommandTable", "Shuttlebox"),
         QT_TRANSLATE_NOOP("CommandTable", "Shuttlebox")},
        {kFlexibleSpace, nullptr, "", QT_TRANSLATE_NOOP("CommandTable", "Flexible Space")},
        {kSeparator, nullptr, "", QT_TRANSLATE_NOOP("CommandTable", "Separator")},
        {"ZTPreferences", "preferences", QT_TRANSLATE_NOOP("CommandTable", "Preferences"),
         QT_TRANSLATE_NOOP("CommandTable", "Preferences")},
        {kCustomize, "customizeToolbar", QT_TRANSLATE_NOOP("CommandTable", "Customize"),
         QT_TRANSLATE_NOOP("CommandTable", "Customize")},
    };
    return items;
}

const ToolbarItem* toolbarItem(const QString& identifier)
{
    for (const ToolbarItem& item : toolbarItems()) {
        if (identifier == QLatin1String(item.identifier))
            return &item;
    }
    return nullptr;
}

QStringList allowedToolbarItems()
{
    QStringList identifiers;
    for (const ToolbarItem& item : toolbarItems())
        identifiers << QLatin1String(item.identifier);
    return identifiers;
}

QStringList defaultToolbarItems()
{
    return {QStringLiteral("ZTOpen"),        QStringLiteral("ZTSave"),
            QStringLiteral("ZTCopy"),        QStringLiteral("ZTClear"),
            QLatin1String(kShowColors),      QStringLiteral("FlipH"),
            QLatin1String(kSeparator),       QStringLiteral("Trimlet"),
            QStringLiteral("Shuttlebox"),    QLatin1String(kFlexibleSpace),
            QStringLiteral("ZTPreferences"), QLatin1String(kCustomize)};
}

const std::vector<Menu>& menus()
{
    static const std::vector<Menu> list = {
        {"File", QT_TRANSLATE_NOOP("CommandTable", "&File")},
        {"Edit", QT_TRANSLATE_NOOP("CommandTable", "&Edit")},
        {"Frame", QT_TRANSLATE_NOOP("CommandTable", "F&rame")},
        // Filled by the destinations the user sets up.
        {"SendTo", QT_TRANSLATE_NOOP("CommandTable", "Send &To")},
        {"Window", QT_TRANSLATE_NOOP("CommandTable", "&Window")},
        {"Help", QT_TRANSLATE_NOOP("CommandTable", "&Help")},
    };
    return list;
}

} // namespace CommandTable
