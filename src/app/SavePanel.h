#pragma once

#include <QString>

class OutputSettings;
class QWidget;

// The questions and messages of saving: the save dialog, "File Exists" and "Unable to
// Save". The controller decides what to write; these ask the user and tell them.
namespace SavePanel {

// Where and how to write, as the user answered; an empty path when they stopped.
struct Target {
    QString path;
    int quality = 0; // the JPEG quality of the dialog's own field
};

// Runs the save dialog in startFolder with name proposed, its accessory carrying the
// format pop-up (which sets the output format) and the quality for this save. The path
// is the entered name with an image type's extension dropped and the format's added. When
// that file exists, "File Exists" asks first; openPhoto is the file of the photo that is
// open, which is never replaced by default.
Target askTarget(QWidget* parent, const QString& startFolder, const QString& name,
                 OutputSettings& settings, const QString& openPhoto);

// "File Exists": true when the user chose to replace target. When target is the photo
// that is open (original true), "Cancel" is the default and the text says so, so that
// Return twice never replaces the original.
bool confirmReplace(QWidget* parent, const QString& target, bool original);

// "Unable to Save '<name>'", with the reason when there is one, else general advice.
void reportFailure(QWidget* parent, const QString& target, const QString& reason);

// True when both paths name the same file on disk (links followed, hard links too).
bool isSameFile(const QString& a, const QString& b);

} // namespace SavePanel
