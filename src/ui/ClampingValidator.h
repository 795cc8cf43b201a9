#pragma once

#include <QIntValidator>

#include <functional>

// A whole number in a range for a field whose value is in use elsewhere. Where a plain
// validator leaves an out-of-range or empty entry standing (and the field then shows a
// value that is not used), this one mends it when the field loses focus or Return is
// pressed: too large becomes the maximum, empty or too small puts the value in use back.
class ClampingValidator : public QIntValidator {
public:
    ClampingValidator(int minimum, int maximum, std::function<int()> valueInUse,
                      QObject* parent = nullptr);

    void fixup(QString& input) const override;
    // The value the text stands for once mended.
    int mended(const QString& input) const;

private:
    std::function<int()> _valueInUse;
};
