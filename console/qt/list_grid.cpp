#include "console/qt/list_grid.h"

#include <QHeaderView>

#include "console/qt/grid_columns.h"

namespace brindlex {

QTableWidget* NewListGrid(const std::vector<std::string>& titles, QWidget* parent) {
  QTableWidget* table = NewGrid(static_cast<int>(titles.size()), titles, parent);
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}

void ShowListGrid(QTableWidget* table, const std::vector<ListGridRow>& rows, int selected,
                  const std::vector<int>& widths) {
  const QSignalBlocker block(table);
  table->setRowCount(static_cast<int>(rows.size()));
  for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
    const ListGridRow& shown = rows[static_cast<size_t>(row)];
    for (int column = 0; column < static_cast<int>(shown.cells.size()); ++column) {
      auto* item = new QTableWidgetItem(QString::fromStdString(shown.cells[static_cast<size_t>(column)]));
      if (shown.grey) item->setForeground(Qt::gray);
      table->setItem(row, column, item);
    }
  }
  FitColumns(table, widths);
  if (selected >= 0 && selected < table->rowCount())
    table->setCurrentCell(selected, 0);
  else
    table->clearSelection();
}

QPushButton* AddListButton(QBoxLayout* layout, const char* caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  layout->addWidget(button);
  return button;
}

QString QtFileFilter(const std::string& filter) {
  const size_t bar = filter.find('|');
  if (bar == std::string::npos) return QString::fromStdString(filter);
  return QString::fromStdString(filter.substr(0, bar) + " (" + filter.substr(bar + 1) + ")");
}

}  // namespace brindlex
