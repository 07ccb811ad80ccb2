#include "console/qt/grid_columns.h"

#include <QHeaderView>
#include <QTableWidget>
#include <algorithm>

namespace brindlex {

QTableWidget* NewGrid(int columns, const std::vector<std::string>& captions, QWidget* parent) {
  auto* table = new QTableWidget(0, columns, parent);
  QStringList headers;
  for (const std::string& caption : captions) headers << QString::fromStdString(caption);
  if (!headers.isEmpty()) table->setHorizontalHeaderLabels(headers);
  table->verticalHeader()->hide();
  table->verticalHeader()->setDefaultSectionSize(20);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  return table;
}

void FitColumns(QTableWidget* table, const std::vector<int>& usualWidths) {
  table->resizeColumnsToContents();
  for (int column = 0; column < table->columnCount() && column < static_cast<int>(usualWidths.size()); ++column)
    table->setColumnWidth(column, std::max(table->columnWidth(column), usualWidths[column]));
}

}  // namespace brindlex
