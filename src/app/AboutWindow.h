#pragma once

#include <QDialog>
#include <QUrl>

class QWidget;

// Who made the program and under which terms: name, version, what it does, the web site
// and contact links, and the licences of the program and of the libraries it uses.
class AboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget* parent = nullptr);

    // Shown over the middle of its parent (or the screen), brought to the front.
    void showCentred();

    // Opens the link through WebLinks; false, after telling the user, when it is refused
    // or the desktop has no program for it.
    static bool openLink(const QUrl& url, QWidget* parent);
};
