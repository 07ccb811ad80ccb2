// "Экспорт в Excel": the sheet written to a new .xlsx file and opened with
// the desktop's spreadsheet; a box says so when it cannot be written.
#pragma once

#include "console/export_layout.h"

class QWidget;

namespace brindlex {

// The system's decimal separator, for the figures of an export.
std::string SystemDecimalSeparator();
void ExportSheet(QWidget* parent, const SheetLayout& sheet);

}  // namespace brindlex
