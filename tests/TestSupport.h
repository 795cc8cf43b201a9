#pragma once

// Helpers every test program may need: small pictures and files, drops as the desktop
// delivers them, the desktop's link handler, and a user who answers message sheets.
// A program that uses LinkCatcher ends with #include "moc_TestSupport.cpp".

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QMimeData>
#include <QUrl>

// With an alpha channel by default: an alpha frame, shown in its own colours.
inline QImage solid(int w, int h, QColor color, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(w, h, format);
    image.fill(color);
    return image;
}

// An opaque photo saved at path; the path, or empty when it could not be written.
inline QString writePhoto(const QString& path, QSize size = QSize(60, 40), QColor color = Qt::blue)
{
    return solid(size.width(), size.height(), color, QImage::Format_RGB32).save(path) ? path
                                                                                      : QString();
}

inline bool writeBytes(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// Everything in the folder, hidden and special files too, by name.
inline QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

inline QMimeData* fileMime(const QStringList& paths)
{
    auto* mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls.append(QUrl::fromLocalFile(p));
    mime->setUrls(urls);
    return mime;
}

struct DropResult {
    bool entered = false;
    bool dropped = false;
};

// As the desktop delivers it: the drop goes where the drag entered.
inline DropResult dropOn(QObject* target, const QMimeData& mime, QPoint at = QPoint(5, 5))
{
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return {enter.isAccepted(), drop.isAccepted()};
}

// Stands for the desktop's browser, mail program and file manager while it lives.
class LinkCatcher : public QObject {
    Q_OBJECT
public:
    explicit LinkCatcher(const QStringList& schemes = {"http", "https", "mailto", "file", "ftp",
                                                       "javascript", "data", "smb"})
        : _schemes(schemes)
    {
        for (const QString& scheme : _schemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~LinkCatcher() override
    {
        for (const QString& scheme : _schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }

private:
    QStringList _schemes;
};

// Only for programs built with widgets.
#if __has_include(<QAbstractButton>)
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

// A user who answers every message sheet while this lives: the button whose text or object
// name is `answer`, else the default one. Another modal dialog is answered only when it has
// that button, after `typed` went into its text field. Keeps what each sheet said.
class SheetCatcher : public QObject {
public:
    struct Sheet {
        QString text; // a dialog's window title
        QString informative;
        QString windowTitle;
        QString field; // what the text field held before `typed`
        QStringList buttons;
    };

    explicit SheetCatcher(const QString& answer = QString(), QWidget* window = nullptr,
                          const QString& typed = QString())
    {
        QPointer<QWidget> owner(window);
        const bool watchWindow = window != nullptr;
        connect(&_timer, &QTimer::timeout, this, [=, this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (watchWindow && owner && !qobject_cast<QMessageBox*>(modal)) {
                for (QMessageBox* box : owner->findChildren<QMessageBox*>())
                    if (box->isVisible())
                        modal = box;
            }
            if (modal && modal->isVisible())
                take(modal, answer, typed);
        });
        _timer.start(5);
    }
    // As an answer: what the Escape key does, the cancelling button or the dialog rejected.
    static inline const QString Escape = QStringLiteral("Escape");

    QList<Sheet> seen;
    bool shown() const { return !seen.isEmpty(); }
    Sheet last() const { return seen.isEmpty() ? Sheet() : seen.last(); }

private:
    void take(QWidget* modal, const QString& answer, const QString& typed)
    {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QAbstractButton* chosen = box ? box->defaultButton() : nullptr;
        bool found = false;
        Sheet sheet{box ? box->text() : modal->windowTitle(),
                    box ? box->informativeText() : QString(),
                    modal->windowTitle(),
                    QString(),
                    {}};
        for (QAbstractButton* b : modal->findChildren<QAbstractButton*>()) {
            sheet.buttons << b->text();
            if (!answer.isEmpty() && (b->text() == answer || b->objectName() == answer))
                chosen = b, found = true;
        }
        if (answer == Escape)
            chosen = box ? box->escapeButton() : nullptr, found = true;
        if (!box && !found)
            return;
        if (auto* field = modal->findChild<QLineEdit*>(); field && !box) {
            sheet.field = field->text();
            field->setText(typed);
        }
        seen << sheet;
        if (chosen)
            chosen->click();
        else if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    }

    QTimer _timer;
};
#endif
