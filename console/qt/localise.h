// Russian for every text a console window shows: "#N" captions replaced by
// string N of the string table, and the toolkit's own texts (standard
// buttons, the file dialog, context menus) translated. Main thread only.
#pragma once

class QCoreApplication;
class QWidget;

namespace brindlex {

// Replaces every "#N" caption of a window and its children (labels, buttons,
// check boxes, group boxes, tabs, menu items, combo-box items, the window
// title) by string N of the string table.
void LocaliseCaptions(QWidget* window);

// Installs, once per application, the toolkit's Russian translations (when
// the system has them) and above them the string table's texts for the
// standard buttons, so "OK", "Отмена", "Да" and "Нет" read the same in every
// box whether or not the translations are installed. Returns whether the
// toolkit's own translation file was found.
bool InstallRussianTranslations(QCoreApplication* application);

}  // namespace brindlex
