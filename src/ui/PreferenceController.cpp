#include "ui/PreferenceController.h"

#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"

#include <QCheckBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

PreferenceController::PreferenceController(UserDefaults& defaults, QObject* parent)
    : QObject(parent), _defaults(defaults)
{
}

PreferenceController::~PreferenceController()
{
    delete _window.data();
}

QVariantMap PreferenceController::defaults()
{
    return {
        {DefHideExtension, true},
        {DefHideToolTips, false},
        {DefAutoRotateBorder, true},
    };
}

void PreferenceController::_makeWindow(QWidget* parentWindow)
{
    auto* dialog = new QDialog(parentWindow);
    dialog->setObjectName(QStringLiteral("Preference"));
    dialog->setWindowTitle(tr("Preferences"));
    dialog->setWindowModality(Qt::WindowModal);

    auto makeBox = [dialog](const QString& key, const QString& label) {
        auto* box = new QCheckBox(label, dialog);
        box->setObjectName(key);
        return box;
    };
    _hideToolTips = makeBox(DefHideToolTips, tr("Hide tooltips"));
    _autoRotateBorder =
        makeBox(DefAutoRotateBorder, tr("Turn the frame to match the photo's orientation"));
    _checkForUpdatesAtStartup =
        makeBox(DefCheckForUpdatesAtStartup, tr("Check for updates at startup"));

    auto* checkNow = new QPushButton(tr("Check Now"), dialog);
    checkNow->setObjectName(QStringLiteral("checkNowButton"));
    checkNow->setAutoDefault(false);
    auto* cancel = new QPushButton(tr("Cancel"), dialog);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    auto* ok = new QPushButton(tr("OK"), dialog);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);

    connect(checkNow, &QPushButton::clicked, this, &PreferenceController::checkForUpdates);
    connect(cancel, &QPushButton::clicked, this, &PreferenceController::cancel);
    connect(ok, &QPushButton::clicked, this, &PreferenceController::accept);

    auto* updatesRow = new QHBoxLayout;
    updatesRow->addWidget(_checkForUpdatesAtStartup);
    updatesRow->addStretch();
    updatesRow->addWidget(checkNow);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(cancel);
    buttonRow->addWidget(ok);

    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(_hideToolTips);
    layout->addWidget(_autoRotateBorder);
    layout->addLayout(updatesRow);
    layout->addSpacing(8);
    layout->addLayout(buttonRow);
    dialog->setSizeGripEnabled(false);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    _window = dialog;
}

void PreferenceController::_loadValues()
{
    _hideToolTips->setChecked(_defaults.boolForKey(DefHideToolTips));
    _autoRotateBorder->setChecked(_defaults.boolForKey(DefAutoRotateBorder));
    _checkForUpdatesAtStartup->setChecked(_defaults.boolForKey(DefCheckForUpdatesAtStartup));
}

void PreferenceController::_storeValues()
{
    // Only edited values are stored, so an untouched key keeps following the factory value.
    const std::pair<const QString*, QCheckBox*> boxes[] = {
        {&DefHideToolTips, _hideToolTips},
        {&DefAutoRotateBorder, _autoRotateBorder},
        {&DefCheckForUpdatesAtStartup, _checkForUpdatesAtStartup},
    };
    for (const auto& [key, box] : boxes) {
        if (box->isChecked() != _defaults.boolForKey(*key))
            _defaults.setBool(box->isChecked(), *key);
    }
    _defaults.synchronize();
}

void PreferenceController::showWindow(QWidget* parentWindow)
{
    if (_window && _window->isVisible())
        return;
    if (!_window)
        _makeWindow(parentWindow);
    else if (_window->parentWidget() != parentWindow)
        _window->setParent(parentWindow, _window->windowFlags());

    _loadValues();
    _checkRequested = false;
    QPointer<PreferenceController> self(this);
    const int result = _window->exec();
    if (!self || result != QDialog::Accepted)
        return;

    emit preferenceDidChange();
    if (self && _checkRequested) {
        _checkRequested = false;
        // After the sheet has gone and the caller of showWindow() has returned.
        QTimer::singleShot(0, this, [this] { emit checkForUpdatesRequested(); });
    }
}

void PreferenceController::accept()
{
    if (!_window)
        return;
    _storeValues();
    _window->accept();
}

void PreferenceController::cancel()
{
    if (_window)
        _window->reject();
}

void PreferenceController::checkForUpdates()
{
    if (!_window)
        return;
    _checkRequested = true;
    accept();
}
