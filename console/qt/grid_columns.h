// The console's grids: read-only rows selected whole, and column widths as
// wide as the widest text but never narrower than usual, so that no figure
// is cut.
#pragma once

#include <string>
#include <vector>

class QTableWidget;
class QWidget;

namespace brindlex {

// A grid of whole-row selection that cannot be edited, with these captions
// (none for a grid without a header).
QTableWidget* NewGrid(int columns, const std::vector<std::string>& captions, QWidget* parent);
void FitColumns(QTableWidget* table, const std::vector<int>& usualWidths);

}  // namespace brindlex
