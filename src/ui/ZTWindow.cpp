#include "ui/ZTWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QToolBar>

#include <algorithm>

namespace {

// A button's own connections decide whether the panel may take it over; QObject only
// tells its subclasses how many receivers a signal has.
struct ReceiverCount : QObject {
    static int of(const QObject* object, const char* signal)
    {
        return (object->*(&ReceiverCount::receivers))(signal);
    }
};

// A button box connects each of its buttons to itself; that link is not an action of the
// button's own, but the box's signals being wired somewhere is.
bool hasOwnAction(const QPushButton* button)
{
    int ownClicks = ReceiverCount::of(button, SIGNAL(clicked(bool)));
    if (auto* box = qobject_cast<QDialogButtonBox*>(button->parentWidget())) {
        if (ReceiverCount::of(box, SIGNAL(clicked(QAbstractButton*))) > 0 ||
            ReceiverCount::of(box, SIGNAL(accepted())) > 0 ||
            ReceiverCount::of(box, SIGNAL(rejected())) > 0 ||
            ReceiverCount::of(box, SIGNAL(helpRequested())) > 0)
            return true;
        ownClicks -= 1;
    }
    return ownClicks > 0 || ReceiverCount::of(button, SIGNAL(pressed())) > 0 ||
           ReceiverCount::of(button, SIGNAL(released())) > 0 ||
           ReceiverCount::of(button, SIGNAL(toggled(bool))) > 0;
}

} // namespace

ZTWindow::ZTWindow(QWidget* parent) : QMainWindow(parent)
{
    _updateTitle();
}

ZTWindow::~ZTWindow() = default;

QMargins ZTWindow::assumedFrame()
{
    // A title bar of the common desktops and thin borders.
    return QMargins(4, 36, 4, 4);
}

namespace {

// The window's decoration as the window manager reports it once shown, else the assumed one.
QMargins frameOf(const QWidget* window)
{
    const QRect inner = window->geometry();
    const QRect outer = window->frameGeometry();
    if (window->isVisible() && outer != inner)
        return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                        outer.right() - inner.right(), outer.bottom() - inner.bottom());
    return ZTWindow::assumedFrame();
}

// The frame at the given client size moved within the area (its top-left corner first,
// so that the title bar stays reachable when it cannot fit whole).
QPoint placedWithin(QRect outer, const QRect& area)
{
    const int x = std::max(area.left(), std::min(outer.left(), area.right() + 1 - outer.width()));
    const int y = std::max(area.top(), std::min(outer.top(), area.bottom() + 1 - outer.height()));
    return QPoint(x, y);
}

} // namespace

void ZTWindow::placeCentred(QSize size)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        resize(size);
        return;
    }
    const QRect area = screen->availableGeometry();
    const QMargins frame = frameOf(this);
    resize(size.boundedTo(area.size().shrunkBy(frame)).expandedTo(minimumSizeHint()));
    QRect outer(QPoint(0, 0), this->size().grownBy(frame));
    outer.moveCenter(area.center());
    move(placedWithin(outer, area));
}

void ZTWindow::keepOnScreen()
{
    const QMargins frame = frameOf(this);
    // A window's position is that of its frame.
    QRect outer(pos(), size().grownBy(frame));
    QScreen* best = nullptr;
    qint64 bestShare = 0;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect common = screen->availableGeometry().intersected(outer);
        const qint64 share = qint64(common.width()) * common.height();
        if (share > bestShare) {
            best = screen;
            bestShare = share;
        }
    }
    if (!best)
        best = QGuiApplication::primaryScreen();
    if (!best)
        return;
    const QRect area = best->availableGeometry();
    const QSize room = area.size().shrunkBy(frame);
    if (size().width() > room.width() || size().height() > room.height())
        resize(size().boundedTo(room).expandedTo(minimumSizeHint()));
    outer = QRect(outer.topLeft(), size().grownBy(frame));
    const QPoint corner = placedWithin(outer, area);
    if (corner != outer.topLeft())
        move(corner);
}

void ZTWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (_placedOnce || event->spontaneous())
        return;
    _placedOnce = true;
    // The window manager tells the real decoration only after the window is up.
    QTimer::singleShot(0, this, [this] {
        if (!isMaximized() && !isFullScreen())
            keepOnScreen();
    });
}

void ZTWindow::setTitle(const QString& title)
{
    _title = title;
    _updateTitle();
}

void ZTWindow::setTitleSuffix(const QString& suffix)
{
    _titleSuffix = suffix;
    _updateTitle();
}

QString ZTWindow::title() const
{
    return _title;
}

QString ZTWindow::titleSuffix() const
{
    return _titleSuffix;
}

QString ZTWindow::composedTitle(const QString& title, const QString& suffix)
{
    QString base = title.isNull() ? QStringLiteral("null") : title;
    // An empty suffix would only leave a dangling space behind the title.
    if (suffix.isEmpty())
        return base;
    return QStringLiteral("%1 %2").arg(base, suffix);
}

void ZTWindow::_updateTitle()
{
    setWindowTitle(composedTitle(_title, _titleSuffix));
}

void ZTWindow::zoom()
{
    QList<QToolBar*> shown;
    for (QToolBar* toolBar : findChildren<QToolBar*>(Qt::FindDirectChildrenOnly)) {
        if (toolBar->isVisibleTo(this))
            shown.append(toolBar);
    }
    for (QToolBar* toolBar : shown)
        toolBar->hide();
    setWindowState(windowState() ^ Qt::WindowMaximized);
    for (QToolBar* toolBar : shown)
        toolBar->show();
}

bool ZTWindow::isAlertShown() const
{
    return !_alertPanel.isNull();
}

QWidget* ZTWindow::attachedSheet() const
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == this)
        return nullptr;
    if (modal->windowModality() == Qt::ApplicationModal)
        return modal;
    for (QWidget* parent = modal->parentWidget(); parent; parent = parent->parentWidget()) {
        if (parent == this)
            return modal;
    }
    return nullptr;
}

void ZTWindow::runMessageSheetWithTitle(const QString& title, const QString& message)
{
    _runAlert(title, message, tr("Okay"), QString(), QString());
}

int ZTWindow::runPromptSheetWithTitle(const QString& title, const QString& message,
                                      const QString& defaultButton, const QString& alternateButton,
                                      const QString& otherButton)
{
    return _runAlert(title, message, defaultButton, alternateButton, otherButton);
}

int ZTWindow::_runAlert(const QString& title, const QString& message, const QString& defaultButton,
                        const QString& alternateButton, const QString& otherButton)
{
    if (_alertPanel)
        return -1;

    auto* box = new QMessageBox(this);
    _alertPanel = box;
    box->setWindowModality(Qt::WindowModal);
    box->setWindowTitle(title);
    box->setIcon(QMessageBox::NoIcon);
    if (!windowIcon().isNull())
        box->setIconPixmap(windowIcon().pixmap(64, 64));
    // File names end up in these texts; they are shown as they are, never as markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(title);
    if (!message.isEmpty()) {
        box->setInformativeText(message);
        if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
            label->setTextFormat(Qt::PlainText);
    }

    QPushButton* defaultPush =
        box->addButton(defaultButton.isEmpty() ? tr("OK") : defaultButton, QMessageBox::AcceptRole);
    QPushButton* alternatePush = nullptr;
    QPushButton* otherPush = nullptr;
    if (!alternateButton.isEmpty())
        alternatePush = box->addButton(alternateButton, QMessageBox::RejectRole);
    if (!otherButton.isEmpty())
        otherPush = box->addButton(otherButton, QMessageBox::ActionRole);
    defaultPush->setProperty("tag", 1);
    if (alternatePush)
        alternatePush->setProperty("tag", 0);
    if (otherPush)
        otherPush->setProperty("tag", -1);
    box->setDefaultButton(defaultPush);
    if (alternatePush)
        box->setEscapeButton(alternatePush);

    QPointer<ZTWindow> self(this);
    QPointer<QMessageBox> guard(box);
    box->exec();
    if (!self || !guard)
        return 0;

    // Closed without a button (the window went away, say): the answer that changes nothing.
    int code = 0;
    if (QAbstractButton* clicked = box->clickedButton())
        code = clicked->property("tag").toInt();
    _alertPanel = nullptr;
    delete box;
    return code;
}

void ZTWindow::_setButtonActionForView(QWidget* view, QDialog* panel,
                                       std::vector<QMetaObject::Connection>& connections)
{
    for (QObject* child : view->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || widget->isWindow())
            continue;
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            if (!button->isCheckable() && !hasOwnAction(button)) {
                connections.push_back(
                    connect(button, &QPushButton::clicked, panel,
                            [panel, button] { panel->done(button->property("tag").toInt()); }));
            }
        } else if (!widget->children().isEmpty()) {
            _setButtonActionForView(widget, panel, connections);
        }
    }
}

int ZTWindow::runPromptSheet(QDialog* panel)
{
    if (!panel)
        return 0;

    const bool adopted = panel->parentWidget() == nullptr;
    if (adopted)
        panel->setParent(this, panel->windowFlags() | Qt::Dialog);
    const Qt::WindowModality oldModality = panel->windowModality();
    panel->setWindowModality(Qt::WindowModal);

    // Taken over only for this run, so the caller can run the panel again.
    std::vector<QMetaObject::Connection> connections;
    _setButtonActionForView(panel, panel, connections);

    QPointer<ZTWindow> self(this);
    QPointer<QDialog> guard(panel);
    const int code = panel->exec();

    for (const QMetaObject::Connection& connection : connections)
        QObject::disconnect(connection);
    if (guard) {
        panel->setWindowModality(oldModality);
        if (adopted && self)
            panel->setParent(nullptr, panel->windowFlags());
    }
    return code;
}
