#pragma once

#include <QString>

class QDialog;

// Whatever shows the program's questions and messages as blocking sheets, so that a
// controller gets the answer as a return value without knowing the window behind it.
class SheetHost {
public:
    virtual ~SheetHost() = default;

    // Runs a custom panel modally; the answer is the "tag" of the push button that ended it,
    // or the panel's QDialog result when it ended otherwise.
    virtual int runPromptSheet(QDialog* panel) = 0;
    // 1 default, 0 alternate, -1 other (or at once when another alert is up).
    virtual int runPromptSheetWithTitle(const QString& title, const QString& message,
                                        const QString& defaultButton,
                                        const QString& alternateButton = QString(),
                                        const QString& otherButton = QString()) = 0;
    // One "Okay" button; returns when it is pressed.
    virtual void runMessageSheetWithTitle(const QString& title, const QString& message) = 0;
};
