#include "ClampingValidator.h"

ClampingValidator::ClampingValidator(int minimum, int maximum, std::function<int()> valueInUse,
                                     QObject* parent)
    : QIntValidator(minimum, maximum, parent), _valueInUse(std::move(valueInUse))
{
}

int ClampingValidator::mended(const QString& input) const
{
    bool ok = false;
    const qlonglong value = input.trimmed().toLongLong(&ok);
    if (!ok || value < bottom())
        return _valueInUse();
    return value > top() ? top() : int(value);
}

void ClampingValidator::fixup(QString& input) const
{
    input = QString::number(mended(input));
}
