#pragma once

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

// Sheets block in exec(); the answer has to come from the event loop they run. This waits
// for a modal widget other than `below` to come up, then hands it to `answer`.
inline void whenModalShown(std::function<void(QWidget*)> answer, QWidget* below = nullptr,
                           int tries = 500)
{
    QPointer<QWidget> belowGuard(below);
    QTimer::singleShot(10, qApp, [answer, belowGuard, below, tries] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != below && modal->isVisible()) {
            answer(modal);
        } else if (tries > 0) {
            whenModalShown(answer, belowGuard ? below : nullptr, tries - 1);
        }
    });
}
