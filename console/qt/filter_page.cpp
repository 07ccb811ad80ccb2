#include "console/qt/filter_page.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QVBoxLayout>

#include "console/filter_dialog.h"
#include "console/qt/filter_form.h"
#include "console/qt/list_grid.h"
#include "console/qt/localise.h"
#include "core/program_folder.h"

namespace brindlex {

FilterPage::FilterPage(ConsoleEngine& engine, std::function<void(int bits)> mark, QWidget* parent)
    : FilterPage(GlobalFilterSource(engine), std::move(mark), parent) {}

FilterPage::FilterPage(FilterListSource source, std::function<void(int bits)> mark, QWidget* parent)
    : QWidget(parent), editor_(source, std::move(mark)), run_([](QDialog& dialog) { dialog.exec(); }) {
  const bool global = !source.writeThrough;
  setObjectName("FilterPage");
  enabled_ = new QCheckBox("#148", this);
  enabled_->setObjectName("CbFilterEnabled");
  tabs_ = new QTabBar(this);
  for (const std::string& title : FilterTabTitles()) tabs_->addTab(QString::fromStdString(title));
  const auto titles = FilterColumnTitles();
  table_ = NewListGrid({titles.begin(), titles.end()}, this);
  auto* buttons = AddListCommands(
      this, table_, editor_, [this](bool add) { AddOrEdit(add); }, [this] { Show(); });
  buttons->addStretch(1);
  QPushButton* import = AddListButton(buttons, "#146", this);
  append_ = new QRadioButton("#14", this);
  auto* replace = new QRadioButton("#149", this);
  append_->setChecked(true);
  buttons->addWidget(append_);
  buttons->addWidget(replace);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(enabled_);
  enabled_->setVisible(global);
  layout->addWidget(tabs_);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);
  LocaliseCaptions(this);

  connect(enabled_, &QCheckBox::toggled, this, [this](bool on) { editor_.SetEnabled(on); });
  connect(tabs_, &QTabBar::currentChanged, this, [this](int tab) {
    editor_.SelectTab(tab == kAllowTab ? kAllowTab : kDenyTab);
    Show();
  });
  connect(import, &QPushButton::clicked, this, [this] { Import(); });
  editor_.SetLoaded([this] { Show(); });
  editor_.Load();
}

void FilterPage::Show() {
  {
    const QSignalBlocker block(enabled_);
    enabled_->setChecked(editor_.Lists().enabled);
  }
  {
    const QSignalBlocker block(tabs_);
    tabs_->setCurrentIndex(editor_.Tab());
  }
  std::vector<ListGridRow> rows;
  for (const FilterEntry& entry : editor_.Shown()) {
    const auto cells = FilterRow(entry);
    rows.push_back({{cells.begin(), cells.end()}, entry.off != 0});
  }
  ShowListGrid(table_, rows, editor_.Selected(), {240, 100});
}

void FilterPage::AddOrEdit(bool add) {
  const FilterEntry* selected = editor_.SelectedEntry();
  if (!add && !selected) return;
  TFormFilter dialog(
      add ? std::string() : selected->pattern, add ? static_cast<int>(kFilterUrl) : selected->kind,
      [this, add](const std::string& pattern, int kind) {
        return add ? editor_.Add(pattern, kind) : editor_.Edit(pattern, kind);
      },
      this);
  run_(dialog);
  Show();
}

void FilterPage::Import() {
  const CopyFileDialog files = FilterImportDialog(ProgramFolder());
  const QString path = QFileDialog::getOpenFileName(
      this, QString(), QString::fromStdString(files.folder + "/" + files.defaultName), QtFileFilter(files.filter));
  if (path.isEmpty()) return;
  const ConfigBox box = editor_.Import(path.toStdString(), !append_->isChecked());
  if (!box.text.empty())
    QMessageBox::warning(this, QString::fromStdString(box.caption), QString::fromStdString(box.text));
  Show();
}

}  // namespace brindlex
