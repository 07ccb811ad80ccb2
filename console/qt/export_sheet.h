// "Экспорт в Excel": the sheet written to a new .xlsx file and opened with
// the desktop's spreadsheet. A box says why when the file cannot be written,
// and where it is (its folder opened) when no spreadsheet program takes it.
#pragma once

#include "console/export_layout.h"

class QWidget;

namespace brindlex {

// The system's decimal separator, for the figures of an export.
std::string SystemDecimalSeparator();
void ExportSheet(QWidget* parent, const SheetLayout& sheet);

}  // namespace brindlex
