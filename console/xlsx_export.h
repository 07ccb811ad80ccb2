// The export's spreadsheet written as an .xlsx file, for the desktop to open.
#pragma once

#include <string>

#include "console/export_layout.h"

namespace brindlex {

// Writes the sheet to `path`; false on any failure (no file is left then).
bool WriteXlsx(const SheetLayout& sheet, const std::string& path);

// A new, empty file in the system's temporary folder, named uniquely with the
// extension ".xlsx", to be written by WriteXlsx; empty when none can be made.
std::string TemporaryExportPath();

}  // namespace brindlex
