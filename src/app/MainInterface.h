#pragma once

#include "foundation/CommandTable.h"
#include "ui/ZTWindow.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

class OutputPanel;
class OutputSettings;
class PreviewView;
class ProxyView;
class QAction;
class QColorDialog;
class QMenu;
class QDockWidget;
class QToolBar;
class TargetController;
class ThumbnailController;
class ToolbarCustomizer;
class UserDefaults;

// The window as the user sees it: the main window with the preview and the output controls,
// the frame panel, the colour dialog, and the menus and toolbar. The features make the
// actions of their commands and hand them over; it puts them where the command table says
// and enables them by its rule. It runs the window's own commands (zoom, the frame panel,
// the toolbar's customisation, quit).
class MainInterface : public QObject {
    Q_OBJECT
public:
    MainInterface(UserDefaults& defaults, OutputSettings& settings, QObject* parent = nullptr);
    ~MainInterface() override;

    ZTWindow* mainWindow() const { return _mainWindow; }
    PreviewView* previewView() const { return _previewView; }
    OutputPanel* outputPanel() const { return _outputPanel; }
    ProxyView* proxyView() const { return _proxyView; }
    ThumbnailController* thumbnailController() const { return _thumbnailController; }
    TargetController* targetController() const { return _targetController; }
    QDockWidget* drawer() const { return _drawer; }
    QColorDialog* colorPanel() const { return _colorPanel; }
    QToolBar* toolBar() const { return _toolBar; }
    OutputSettings& outputSettings() const { return _settings; }

    // A feature's actions, made from the command table; then, once all are in, the menus
    // in the table's order and the toolbar.
    void addCommands(const QList<QAction*>& actions);
    void assembleCommands();
    // The action of a command of the table, by identifier; null for an unknown one.
    QAction* action(const QString& identifier) const { return _actions.value(identifier); }

    // The toolbar's items by identifier, in order; a change is kept in the defaults and
    // comes back at the next start.
    QStringList toolbarItems() const { return _toolbarItems; }
    void setToolbarItems(const QStringList& identifiers);
    // Opens the dialog that edits the toolbar; every command is disabled while it is up.
    void runToolbarCustomization();
    ToolbarCustomizer* toolbarCustomizer() const; // while it is open

    // A menu of the menu bar by its name in the command table ("File", "SendTo", ...).
    QMenu* menu(const QString& name) const { return _menus.value(name); }

    // Each command enabled by the table's rule. The drag-out proxy follows the photo
    // alone; the send-to menu is enabled when it has items.
    void validateCommands(bool hasPhoto, bool busy);
    // Whether the photo browser is there to answer its menu item (it is not by default).
    void setPhotoBrowserAvailable(bool available);

    // The window's place and size, kept in the defaults across runs.
    void restoreGeometry();
    void saveGeometry();

private:
    void buildWindow();
    void buildMenus();
    void buildToolbar();
    void buildSendTo();
    CommandTable::State commandState() const;

    UserDefaults& _defaults;
    OutputSettings& _settings;
    QPointer<ZTWindow> _mainWindow;
    PreviewView* _previewView = nullptr;
    OutputPanel* _outputPanel = nullptr;
    ProxyView* _proxyView = nullptr;
    ThumbnailController* _thumbnailController = nullptr;
    TargetController* _targetController = nullptr;
    QDockWidget* _drawer = nullptr;
    QColorDialog* _colorPanel = nullptr;
    QToolBar* _toolBar = nullptr;
    QHash<QString, QAction*> _actions;
    QStringList _toolbarItems;
    QList<QAction*> _toolbarExtras; // spaces and separators, made anew with every change
    QPointer<ToolbarCustomizer> _customizer;
    bool _hasPhoto = false;
    bool _busy = false;
    QHash<QString, QMenu*> _menus;
    bool _photoBrowserAvailable = false;
};
