#pragma once

#include "foundation/CommandTable.h"
#include "targets/DestinationList.h"
#include "ui/targets/DestinationSetupSheet.h"

#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QAction;
class QWidget;
class SheetHost;
class UserDefaults;

// The send-to side of the window: the preview's context menu and the main menu's send-to
// menu, both built from the stored destinations; sending the framed photo to a folder (the
// save dialog opens there) or an application (the temporary file is handed to it); the
// double-click on the preview that sends to the default; and the setup sheet.
class TargetController : public QObject {
    Q_OBJECT
public:
    // The menus are first built 0.1 s later, as the window comes up.
    static constexpr int kFirstBuildDelayMs = 100;

    // The preview gets its context menu from here (its double-click is to be connected to
    // sendToDefaultDestination); sheets and messages run through host on the window.
    TargetController(UserDefaults& defaults, QWidget* previewView, QWidget* mainWindow,
                     SheetHost* host, QObject* parent = nullptr);
    ~TargetController() override;

    // Writes the framed photo to the temporary folder; the path, or empty with the reason.
    using TmpFileWriter = std::function<QString(QString* error)>;
    void setTmpFileWriter(TmpFileWriter writer) { _writeTmpFile = std::move(writer); }

    QMenu* contextMenu() const { return _contextMenu; }
    // The main menu's send-to menu, rebuilt together with the context menu.
    void setSendToMenu(QMenu* menu);
    QMenu* sendToMenu() const { return _sendToMenu; }
    DestinationSetupSheet* setupSheet() const { return _setupSheet; }
    const DestinationList& workingCopy() const { return _destinations; }

    // Rebuilds both menus from the stored list: context menu first, then send-to.
    void destinationsDidChange();
    // One menu: an item per stored destination (Ctrl+Alt+1 to 9, the tenth Ctrl+Alt+0),
    // a separator when there are any, the two companions, a separator, "Setup
    // Destinations".
    void setupMenu(QMenu* menu);

    // The Send to Trimlet and Send to Shuttlebox commands, made from the command table.
    QList<QAction*> commands() const { return _commands; }

    // Destination and companion items follow the rule of commands that need a photo.
    void validateCommands(const CommandTable::State& state);

    void sendToDestinationAtIndex(int index);
    // The stored default; never the sheet's working copy.
    void sendToDefaultDestination();

    // Runs the setup sheet; a non-zero answer stores the working copy and rebuilds the
    // menus. The answer.
    int setup();

signals:
    // A folder send: the save dialog should open in that folder.
    void saveDocumentInFolderRequested(const QString& folder);
    void sendToTrimletRequested();
    void sendToShuttleboxRequested();
    // Both menus were built anew.
    void menusRebuilt();

private:
    void _sendTo(QAction* item);
    void _tellUser(const QString& title, const QString& message);

    UserDefaults& _defaults;
    QPointer<QWidget> _previewView;
    QPointer<QWidget> _mainWindow;
    SheetHost* _host = nullptr;
    QPointer<QMenu> _contextMenu;
    QPointer<QMenu> _sendToMenu;
    QPointer<DestinationSetupSheet> _setupSheet;
    DestinationList _destinations; // the sheet's working copy
    TmpFileWriter _writeTmpFile;
    QList<QAction*> _commands;
    CommandTable::State _state;
};
