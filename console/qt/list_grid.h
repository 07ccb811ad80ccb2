// The grids of the editor's list pages (filters, mail relays, port
// mappings): whole-row selection, a switched-off row drawn grey, the
// selection the logic names, and the pages' command buttons.
#pragma once

#include <QBoxLayout>
#include <QPushButton>
#include <QString>
#include <QTableWidget>
#include <functional>
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

// The commands every list page has: "Добавить", "Изменить" (also a double
// click), "Удалить" and "Вкл/Откл" in a row of buttons that is returned for
// the page's own further widgets, and the grid's selection handed to the
// editor. `addOrEdit(true)` adds, `addOrEdit(false)` edits the selection;
// delete and on/off are the editor's, after which `show` repaints.
template <typename Editor>
QHBoxLayout* AddListCommands(QWidget* page, QTableWidget* table, Editor& editor, std::function<void(bool)> addOrEdit,
                             std::function<void()> show) {
  auto* buttons = new QHBoxLayout;
  QPushButton* add = AddListButton(buttons, "#111", page);
  QPushButton* edit = AddListButton(buttons, "#112", page);
  QPushButton* remove = AddListButton(buttons, "#113", page);
  QPushButton* toggle = AddListButton(buttons, "#120", page);
  QObject::connect(table, &QTableWidget::currentCellChanged, page, [&editor](int row) { editor.Select(row); });
  QObject::connect(table, &QTableWidget::cellDoubleClicked, page, [addOrEdit] { addOrEdit(false); });
  QObject::connect(add, &QPushButton::clicked, page, [addOrEdit] { addOrEdit(true); });
  QObject::connect(edit, &QPushButton::clicked, page, [addOrEdit] { addOrEdit(false); });
  QObject::connect(remove, &QPushButton::clicked, page, [&editor, show] {
    editor.Delete();
    show();
  });
  QObject::connect(toggle, &QPushButton::clicked, page, [&editor, show] {
    editor.Toggle();
    show();
  });
  return buttons;
}
// A file dialog filter "Name|*.ext" as Qt writes it: "Name (*.ext)".
QString QtFileFilter(const std::string& filter);

}  // namespace brindlex
