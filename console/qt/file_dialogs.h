// The file dialogs of the configuration page (account copies, background
// picture) over the dialog data the editor gives.
#pragma once

#include <string>

#include "console/config_editor.h"

class QWidget;

namespace brindlex {

// The path chosen, or empty when the dialog was cancelled.
std::string ChooseFile(QWidget* parent, const CopyFileDialog& dialog, bool forSaving);

}  // namespace brindlex
