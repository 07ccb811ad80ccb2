#include "console/qt/grid_columns.h"

#include <QTableWidget>
#include <algorithm>

namespace brindlex {

void FitColumns(QTableWidget* table, const std::vector<int>& usualWidths) {
  table->resizeColumnsToContents();
  for (int column = 0; column < table->columnCount() && column < static_cast<int>(usualWidths.size()); ++column)
    table->setColumnWidth(column, std::max(table->columnWidth(column), usualWidths[column]));
}

}  // namespace brindlex
