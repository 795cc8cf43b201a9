#pragma once

class QComboBox;

// Pop-up items carry their tag as item data (Qt::UserRole).
namespace PopUpByTag {

// Selects the first item with the tag; false, with the selection unchanged, when none has.
bool selectItemWithTag(QComboBox* popUp, int tag);

// The tag of the selected item, or fallback when nothing is selected.
int selectedTag(const QComboBox* popUp, int fallback = 0);

} // namespace PopUpByTag
