// Replaces every "#N" caption of a window and its children (labels, buttons,
// check boxes, group boxes, tabs, menu items, combo-box items, the window
// title) by string N of the string table.
#pragma once

class QWidget;

namespace brindlex {

void LocaliseCaptions(QWidget* window);

}  // namespace brindlex
