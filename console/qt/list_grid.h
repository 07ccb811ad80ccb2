// The grids of the editor's list pages (filters, mail relays, port
// mappings): whole-row selection, a switched-off row drawn grey, the
// selection the logic names, and the pages' command buttons.
#pragma once

#include <QBoxLayout>
#include <QPushButton>
#include <QString>
#include <QTableWidget>
#include <string>
#include <vector>

namespace brindlex {

struct ListGridRow {
  std::vector<std::string> cells;
  bool grey = false;
};

QTableWidget* NewListGrid(const std::vector<std::string>& titles, QWidget* parent);
// Fills the grid and selects `selected` (-1: nothing) without reporting it
// back; columns are as wide as their widest text, at least `widths`.
void ShowListGrid(QTableWidget* table, const std::vector<ListGridRow>& rows, int selected,
                  const std::vector<int>& widths);
QPushButton* AddListButton(QBoxLayout* layout, const char* caption, QWidget* parent);
// A file dialog filter "Name|*.ext" as Qt writes it: "Name (*.ext)".
QString QtFileFilter(const std::string& filter);

}  // namespace brindlex
