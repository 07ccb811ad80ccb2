#include "console/qt/relay_page.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "console/qt/list_grid.h"
#include "console/qt/localise.h"
#include "console/qt/relay_form.h"

namespace brindlex {

RelayPage::RelayPage(ConsoleEngine& engine, std::function<void(int bits)> mark, QWidget* parent)
    : QWidget(parent), editor_(engine, std::move(mark)), run_([](QDialog& dialog) { dialog.exec(); }) {
  setObjectName("RelayPage");
  const auto titles = MailRuleColumnTitles();
  table_ = NewListGrid({titles.begin(), titles.end()}, this);
  auto* buttons = AddListCommands(
      this, table_, editor_, [this](bool add) { AddOrEdit(add); }, [this] { Show(); });
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);
  LocaliseCaptions(this);

  editor_.SetLoaded([this] { Show(); });
  editor_.Load();
}

void RelayPage::Show() {
  std::vector<ListGridRow> rows;
  for (const MailDomainRule& rule : editor_.Rules()) {
    const auto cells = MailRuleRow(rule);
    rows.push_back({{cells.begin(), cells.end()}, rule.disabled});
  }
  ShowListGrid(table_, rows, editor_.Selected(), {140, 180, 180});
}

void RelayPage::AddOrEdit(bool add) {
  const std::optional<MailRuleFields> fields = add ? editor_.NewFields() : editor_.SelectedFields();
  if (!fields) return;
  TFormRelayEdit dialog(
      *fields, [this, add](MailRuleFields& typed) { return add ? editor_.Add(typed) : editor_.Edit(typed); }, this);
  run_(dialog);
  Show();
}

}  // namespace brindlex
