// Column widths of the console's grids: each column as wide as its widest
// text, and never narrower than its usual width, so that no figure is cut.
#pragma once

#include <vector>

class QTableWidget;

namespace brindlex {

void FitColumns(QTableWidget* table, const std::vector<int>& usualWidths);

}  // namespace brindlex
