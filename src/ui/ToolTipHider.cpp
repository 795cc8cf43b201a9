#include "ui/ToolTipHider.h"

#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"

#include <QEvent>
#include <QToolTip>

ToolTipHider::ToolTipHider(UserDefaults& defaults, QObject* parent) : QObject(parent)
{
    _hiding = defaults.boolForKey(DefHideToolTips);
    connect(&defaults, &UserDefaults::valueChanged, this,
            [this, &defaults](const QString& key, const QVariant&) {
                if (key == DefHideToolTips)
                    _setHiding(defaults.boolForKey(DefHideToolTips));
            });
}

void ToolTipHider::_setHiding(bool hiding)
{
    _hiding = hiding;
    if (hiding && QToolTip::isVisible())
        QToolTip::hideText();
}

bool ToolTipHider::eventFilter(QObject* watched, QEvent* event)
{
    if (_hiding && event->type() == QEvent::ToolTip)
        return true;
    return QObject::eventFilter(watched, event);
}
