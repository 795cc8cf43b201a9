#pragma once

#include <QString>

class OutputSettings;
class QWidget;

// The questions and messages of saving: the save dialog, "File Exists" and "Unable to
// Save". The controller decides what to write; these ask the user and tell them.
namespace SavePanel {

// Runs the save dialog in startFolder with name proposed. Its type list stands for the
// format pop-up and sets the output format. Gives the path to write (the entered name, an
// image type's extension dropped, the format's extension added), or empty when cancelled.
QString chooseTarget(QWidget* parent, const QString& startFolder, const QString& name,
                     OutputSettings& settings);

// "File Exists": true when the user chose to replace target. When target is the photo
// that is open (original true), "Cancel" is the default and the text says so, so that
// Return twice never replaces the original.
bool confirmReplace(QWidget* parent, const QString& target, bool original);

// "Unable to Save '<name>'", with the reason as the details.
void reportFailure(QWidget* parent, const QString& target, const QString& reason);

// True when both paths name the same file on disk (links followed, hard links too).
bool isSameFile(const QString& a, const QString& b);

} // namespace SavePanel
