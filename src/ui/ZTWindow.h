#pragma once

#include "ui/SheetHost.h"

#include <QMainWindow>
#include <QMargins>
#include <QMetaObject>
#include <QPointer>
#include <QString>

#include <vector>

class QDialog;
class QMessageBox;

// The main window. Its title is a base title plus an optional suffix (the photo's pixel
// size), and it runs the program's questions and messages as blocking window-modal sheets
// so that a controller gets the answer as a return value.
class ZTWindow : public QMainWindow, public SheetHost {
    Q_OBJECT
public:
    explicit ZTWindow(QWidget* parent = nullptr);
    ~ZTWindow() override;

    void setTitle(const QString& title);        // base title
    void setTitleSuffix(const QString& suffix); // null QString = no suffix
    QString title() const;
    QString titleSuffix() const;

    // Toggles maximised without letting the toolbars count towards the size.
    void zoom();

    // Places the window at the given size (made smaller where the screen is smaller),
    // centred on the primary screen's free area.
    void placeCentred(QSize size);
    // Brings the window, title bar included, within the free area of the screen most of it
    // is on (the primary one when it is on none), made smaller where it has to be: a place
    // remembered from a larger or a disconnected screen comes back whole.
    void keepOnScreen();
    // Room for the title bar and borders before the window manager has said how much.
    static QMargins assumedFrame();

    // One "Okay" button; returns when it is pressed. Shows nothing while another alert of
    // this window is up.
    void runMessageSheetWithTitle(const QString& title, const QString& message) override;
    // 1 default, 0 alternate, -1 other (or at once when an alert of this window is up).
    // Return presses the default button, Escape the alternate one.
    int runPromptSheetWithTitle(const QString& title, const QString& message,
                                const QString& defaultButton,
                                const QString& alternateButton = QString(),
                                const QString& otherButton = QString()) override;
    // Runs a custom panel window-modally. Every push button of the panel that has no
    // connection of its own (not check boxes, radio buttons or toggle buttons) ends the
    // panel with its "tag" (int dynamic property, 0 when absent); the result is that tag.
    // A panel ended any other way answers its QDialog result (accept() 1, reject() and
    // Escape 0). The panel stays the caller's and can be run again.
    int runPromptSheet(QDialog* panel) override;
    bool isAlertShown() const;
    // The dialog that holds this window modal now (a sheet of its own, or an
    // application-modal one), or null.
    QWidget* attachedSheet() const;

    // The shown title for a base title and suffix.
    static QString composedTitle(const QString& title, const QString& suffix);

protected:
    void showEvent(QShowEvent* event) override;

private:
    int _runAlert(const QString& title, const QString& message, const QString& defaultButton,
                  const QString& alternateButton, const QString& otherButton);
    void _updateTitle();
    void _setButtonActionForView(QWidget* view, QDialog* panel,
                                 std::vector<QMetaObject::Connection>& connections);

    QPointer<QMessageBox> _alertPanel;
    QString _title;
    QString _titleSuffix;
    bool _placedOnce = false;
};
