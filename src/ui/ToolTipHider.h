#pragma once

#include <QObject>

class UserDefaults;

// Application-wide event filter that swallows tooltips while "HideToolTips" is on; it
// follows the setting as it changes. Install it on the application:
//     qApp->installEventFilter(new ToolTipHider(defaults, qApp));
class ToolTipHider : public QObject {
    Q_OBJECT
public:
    explicit ToolTipHider(UserDefaults& defaults, QObject* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void _setHiding(bool hiding);

    bool _hiding = false;
};
