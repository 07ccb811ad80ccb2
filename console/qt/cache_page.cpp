#include "console/qt/cache_page.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "console/qt/desktop_open.h"
#include "console/qt/grid_columns.h"
#include "core/report_exception.h"
#include "core/strings.h"

namespace brindlex {

CachePage::CachePage(ConsoleEngine& engine, QWidget* parent) : QWidget(parent), engine_(engine) {
  table_ = NewGrid(kCacheColumns, CacheColumnCaptions(), this);

  traffic_ = new QLabel(this);
  objects_ = new QLabel(this);
  auto* buttons = new QHBoxLayout;
  auto addButton = [&](const char* caption, auto action) {
    auto* button = new QPushButton(caption, this);
    connect(button, &QPushButton::clicked, this, action);
    buttons->addWidget(button);
  };
  addButton("#116", [this] { View(); });
  addButton("#117", [this] { Find(); });
  addButton("#118", [this] { FindNext(); });
  addButton("#119", [this] { Delete(); });
  addButton("#53", [this] { Refresh(); });
  addButton("#926", [this] {
    engine_.ResetCacheFigures();
    UpdateLabels();
  });
  buttons->addStretch(1);
  new QShortcut(QKeySequence("Ctrl+F"), this, [this] { Find(); });
  new QShortcut(QKeySequence("F3"), this, [this] { FindNext(); });
  new QShortcut(QKeySequence("Ctrl+Del"), this, [this] { Delete(); });

  auto* labels = new QHBoxLayout;
  labels->addWidget(traffic_);
  labels->addSpacing(30);
  labels->addWidget(objects_);
  labels->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(labels);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);

  connect(table_, &QTableWidget::currentCellChanged, this, [this](int row) {
    if (row >= 0) list_.Select(static_cast<std::size_t>(row));
  });
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this] { View(); });
  connect(table_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
    // A second click on the same column turns the order round.
    descending_ = column == sortColumn_ ? !descending_ : false;
    sortColumn_ = column;
    list_.Sort(column, descending_);
    Show();
  });
}

void CachePage::Refresh() {
  list_.Load(engine_.CacheEntries());
  if (sortColumn_ >= 0) list_.Sort(sortColumn_, descending_);
  Show();
  UpdateLabels();
}

void CachePage::Release() {
  list_.Release();
  table_->setRowCount(0);
}

void CachePage::UpdateLabels() {
  const CacheFigures figures = engine_.Cache();
  traffic_->setText(QString::fromStdString(CacheTrafficLabel(figures)));
  objects_->setText(QString::fromStdString(CacheObjectsLabel(figures)));
}

void CachePage::Show() {
  const QSignalBlocker block(table_);
  const auto& rows = list_.Rows();
  table_->setRowCount(static_cast<int>(rows.size()));
  for (std::size_t row = 0; row < rows.size(); ++row)
    for (int column = 0; column < kCacheColumns; ++column) {
      auto* item = new QTableWidgetItem(QString::fromStdString(list_.Cell(row, column)));
      if (column == kCacheLength) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      table_->setItem(static_cast<int>(row), column, item);
    }
  FitColumns(table_, {330, 80, 120, 120, 120, 120});
  if (const auto selected = list_.Selected()) table_->selectRow(static_cast<int>(*selected));
}

void CachePage::Find() {
  bool ok = false;
  const QString text = QInputDialog::getText(this, QString::fromStdString(Str(33)), QString(), QLineEdit::Normal,
                                             QString::fromStdString(list_.SearchText()), &ok);
  if (ok && list_.Find(text.toStdString())) table_->selectRow(static_cast<int>(*list_.Selected()));
}

void CachePage::FindNext() {
  if (list_.FindNext()) table_->selectRow(static_cast<int>(*list_.Selected()));
}

void CachePage::Delete() {
  if (list_.DeleteSelected(engine_)) {
    Show();
    UpdateLabels();
  }
}

void CachePage::View() {
  const auto selected = list_.Selected();
  if (!selected) return;
  const std::string path = engine_.ExportCacheObject(list_.Rows()[*selected].url);
  if (path.empty()) {
    QMessageBox::warning(this, kApplicationTitle, QString::fromStdString(Str(1405)));
    return;
  }
  OpenFileOrItsFolder(this, path, 1404);
}

}  // namespace brindlex
