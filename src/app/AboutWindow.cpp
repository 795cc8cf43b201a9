#include "AboutWindow.h"

#include "app/WebLinks.h"
#include "foundation/Resources.h"
#include "foundation/VellumaVersion.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QVBoxLayout>

namespace {

QString licences()
{
    return QCoreApplication::translate(
               "AboutWindow",
               "Velluma is free software: you can redistribute it and modify it under the terms of "
               "the GNU General Public License, version 2 or later.\n\n"
               "It uses these libraries, each under its own licence:\n"
               "Qt %1, GNU Lesser General Public License version 3\n"
               "Exiv2, GNU General Public License version 2 or later\n"
               "libplist, GNU Lesser General Public License version 2.1 or later\n"
               "libjpeg, the Independent JPEG Group's licence (libjpeg-turbo: also the modified "
               "BSD "
               "licence)\n"
               "zlib and libpng through Qt, the zlib and libpng licences\n")
        .arg(QString::fromLatin1(qVersion()));
}

QString link(const QUrl& url, const QString& text)
{
    return QStringLiteral("<a href=\"%1\">%2</a>").arg(url.toString(), text.toHtmlEscaped());
}

} // namespace

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutWindow"));
    setWindowTitle(tr("About Velluma"));

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(Resources::pathFor(QStringLiteral("velluma.svg"))).pixmap(96, 96));
    icon->setAlignment(Qt::AlignHCenter);
    auto* name = new QLabel(QStringLiteral("<h2>Velluma</h2>"), this);
    name->setAlignment(Qt::AlignHCenter);
    auto* version = new QLabel(tr("Version %1").arg(QStringLiteral(VELLUMA_VERSION)), this);
    version->setObjectName(QStringLiteral("versionLabel"));
    version->setAlignment(Qt::AlignHCenter);
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* description =
        new QLabel(tr("Puts your photos in frames, ready for the web, mail and print."), this);
    description->setAlignment(Qt::AlignHCenter);
    auto* links =
        new QLabel(link(WebLinks::websiteUrl(), WebLinks::websiteUrl().host()) +
                       QStringLiteral(" &middot; ") + link(WebLinks::contactUrl(), tr("Contact")),
                   this);
    links->setObjectName(QStringLiteral("linksLabel"));
    links->setAlignment(Qt::AlignHCenter);
    links->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(links, &QLabel::linkActivated, this,
            [this](const QString& url) { openLink(QUrl(url), this); });
    auto* licence = new QPlainTextEdit(licences(), this);
    licence->setObjectName(QStringLiteral("licenceText"));
    licence->setReadOnly(true);
    licence->setMinimumSize(420, 150);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(icon);
    layout->addWidget(name);
    layout->addWidget(version);
    layout->addWidget(description);
    layout->addWidget(links);
    layout->addWidget(licence, 1);
    layout->addWidget(buttons);
}

void AboutWindow::showCentred()
{
    adjustSize();
    QRect area = parentWidget() ? parentWidget()->frameGeometry() : QRect();
    if (area.isEmpty() && QGuiApplication::primaryScreen())
        area = QGuiApplication::primaryScreen()->availableGeometry();
    QRect frame(QPoint(0, 0), size());
    frame.moveCenter(area.center());
    move(frame.topLeft());
    show();
    raise();
    activateWindow();
}

bool AboutWindow::openLink(const QUrl& url, QWidget* parent)
{
    QString why;
    if (WebLinks::openURL(url, &why))
        return true;
    QMessageBox failed(QMessageBox::Warning, tr("Unable to Open Link"), why, QMessageBox::Ok,
                       parent);
    failed.setObjectName(QStringLiteral("unableToOpenLinkAlert"));
    failed.exec();
    return false;
}
