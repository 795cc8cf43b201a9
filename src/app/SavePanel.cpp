#include "SavePanel.h"

#include "app/SaveAccessory.h"
#include "output/ImageReader.h"
#include "output/OutputSettings.h"
#include "output/TmpFilePath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>

#include <sys/stat.h>

namespace SavePanel {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("SavePanel", text);
}

// The lower-case extensions of the image types we read ("jpg", "png", ...).
QStringList readableExtensions()
{
    QStringList extensions;
    for (const QString& pattern : ImageReader::nameFilters()) {
        QString extension = pattern;
        extension.remove(QStringLiteral("*."));
        extensions << extension.toLower();
    }
    return extensions;
}

// The entered name without the extension of a type we read: Beach.JPG is Beach, while
// Beach.final stays as it is.
QString enteredName(const QString& entered)
{
    const QFileInfo typed(entered);
    if (readableExtensions().contains(typed.suffix().toLower()))
        return typed.dir().filePath(typed.completeBaseName());
    return entered;
}

} // namespace

Target askTarget(QWidget* parent, const QString& startFolder, const QString& name,
                 OutputSettings& settings, const QString& openPhoto)
{
    // Qt's own dialog: the desktop's dialogs cannot carry the accessory everywhere.
    QFileDialog dialog(parent, tr("Save Framed Photo"));
    dialog.setObjectName(QStringLiteral("saveDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // We ask about replacing once the extension is known.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    // The accessory's pop-up is the one format control; the dialog's own type row would
    // be a second one that decides nothing.
    for (const char* typeRow : {"fileTypeCombo", "fileTypeLabel"}) {
        if (auto* widget = dialog.findChild<QWidget*>(QLatin1String(typeRow)))
            widget->hide();
    }
    auto* accessory = new SaveAccessory(settings, &dialog);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
        grid->addWidget(accessory, grid->rowCount(), 0, 1, grid->columnCount());
    else
        dialog.layout()->addWidget(accessory);
    if (!startFolder.isEmpty())
        dialog.setDirectory(startFolder);
    dialog.selectFile(name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};

    Target target;
    target.path = enteredName(dialog.selectedFiles().constFirst()) + QLatin1Char('.') +
                  TmpFilePath::fileExtensionForFormat(settings.fileFormat());
    if (QFileInfo::exists(target.path) &&
        !confirmReplace(parent, target.path, isSameFile(target.path, openPhoto)))
        return {};
    target.quality = accessory->quality();
    return target;
}

bool confirmReplace(QWidget* parent, const QString& target, bool original)
{
    QMessageBox ask(QMessageBox::Warning, tr("File Exists"),
                    tr("Would you like to replace the existing file?"), QMessageBox::NoButton,
                    parent);
    ask.setObjectName(QStringLiteral("fileExistsAlert"));
    ask.setWindowModality(Qt::ApplicationModal);
    ask.setInformativeText(
        original ? tr("%1\n\nThis is the original photo you opened. Replacing it loses the "
                      "original.")
                       .arg(target)
                 : target);
    QPushButton* replace = ask.addButton(tr("Replace"), QMessageBox::AcceptRole);
    QPushButton* cancel = ask.addButton(tr("Cancel"), QMessageBox::RejectRole);
    ask.setDefaultButton(original ? cancel : replace);
    ask.setEscapeButton(cancel);
    ask.exec();
    // The old file is replaced in one step when the new one is complete, so a failed write
    // leaves it whole.
    return ask.clickedButton() == replace;
}

void reportFailure(QWidget* parent, const QString& target, const QString& reason)
{
    const QFileInfo info(target);
    // The title is the alert's text too: window titles of dialogs are not shown everywhere.
    const QString title = tr("Unable to Save '%1'").arg(info.completeBaseName());
    QMessageBox failed(QMessageBox::Critical, title, title, QMessageBox::NoButton, parent);
    // A known reason (a full disk, no quality under the size limit) says more than the
    // general advice, which stays for failures that came without one.
    failed.setInformativeText(reason.isEmpty()
                                  ? tr("Please check that you have write permission to the "
                                       "folder '%1' and that the disk has enough free space.")
                                        .arg(info.absolutePath())
                                  : reason);
    failed.setObjectName(QStringLiteral("unableToSaveAlert"));
    failed.setWindowModality(Qt::ApplicationModal);
    failed.setDefaultButton(failed.addButton(tr("Okay"), QMessageBox::AcceptRole));
    failed.exec();
}

bool isSameFile(const QString& a, const QString& b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    struct stat sa;
    struct stat sb;
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

} // namespace SavePanel
