#include "console/qt/port_map_page.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "console/qt/list_grid.h"
#include "console/qt/localise.h"
#include "console/qt/port_map_form.h"

namespace brindlex {

PortMapPage::PortMapPage(ConsoleEngine& engine, std::function<void(int bits)> mark, QWidget* parent)
    : QWidget(parent), editor_(engine, std::move(mark)), run_([](QDialog& dialog) { dialog.exec(); }) {
  setObjectName("PortMapPage");
  const auto titles = GridHeadings();
  table_ = NewListGrid({titles.begin(), titles.end()}, this);
  auto* buttons = AddListCommands(
      this, table_, editor_, [this](bool add) { AddOrEdit(add); }, [this] { Show(); });
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);
  LocaliseCaptions(this);

  editor_.SetLoaded([this] { Show(); });
  editor_.Load();
}

void PortMapPage::Show() {
  std::vector<ListGridRow> rows;
  for (const PortMapRule& rule : editor_.Rules()) {
    const auto cells = GridRow(rule);
    rows.push_back({{cells.begin(), cells.end()}, rule.disabled});
  }
  ShowListGrid(table_, rows, editor_.Selected(), {100, 50, 110, 130, 170, 100});
}

void PortMapPage::AddOrEdit(bool add) {
  const int editing = add ? -1 : editor_.Selected();
  std::optional<PortMapDialog> dialog = add ? editor_.NewDialog() : editor_.SelectedDialog();
  if (!dialog) return;
  TFormPortMap form(editor_, std::move(*dialog), editing, this);
  run_(form);
  Show();
}

}  // namespace brindlex
