#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QVariantMap>

class QCheckBox;
class QWidget;
class UserDefaults;

// The preferences sheet. Edits are held in the sheet's controls and reach the settings
// only on OK (or Check Now); Cancel drops them. The controller and its dialog are made
// once and reused for every opening.
//
// "HideExtension" stays in the settings, but the sheet does not offer it: files here have
// no hidden-extension attribute, so the box would change nothing.
class PreferenceController : public QObject {
    Q_OBJECT
public:
    PreferenceController(UserDefaults& defaults, QObject* parent = nullptr);
    ~PreferenceController() override;

    // Shows the sheet on parentWindow with the values stored now and returns when it has
    // been closed.
    void showWindow(QWidget* parentWindow);

    // The preference values the program starts with.
    static QVariantMap defaults();

    // The sheet, made on the first showWindow(); null before.
    QDialog* window() const { return _window; }

public slots:
    void accept();          // OK: store and close
    void cancel();          // Cancel: drop the edits and close
    void checkForUpdates(); // Check Now: store, close, then ask for the check

signals:
    // Emitted after OK (and Check Now) once the sheet has closed.
    void preferenceDidChange();
    // Emitted on the event-loop turn after Check Now closed the sheet.
    void checkForUpdatesRequested();

private:
    void _makeWindow(QWidget* parentWindow);
    void _loadValues();
    void _storeValues();

    UserDefaults& _defaults;
    QPointer<QDialog> _window;
    QCheckBox* _hideToolTips = nullptr;
    QCheckBox* _autoRotateBorder = nullptr;
    QCheckBox* _checkForUpdatesAtStartup = nullptr;
    bool _checkRequested = false;
};
