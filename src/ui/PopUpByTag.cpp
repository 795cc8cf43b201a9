#include "PopUpByTag.h"

#include <QComboBox>

namespace PopUpByTag {

bool selectItemWithTag(QComboBox* popUp, int tag)
{
    if (!popUp)
        return false;
    for (int i = 0; i < popUp->count(); ++i) {
        const QVariant data = popUp->itemData(i);
        if (data.isValid() && data.toInt() == tag) {
            popUp->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

int selectedTag(const QComboBox* popUp, int fallback)
{
    if (!popUp || popUp->currentIndex() < 0)
        return fallback;
    const QVariant data = popUp->currentData();
    return data.isValid() ? data.toInt() : fallback;
}

} // namespace PopUpByTag
