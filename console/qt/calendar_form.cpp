#include "console/qt/calendar_form.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/clock.h"
#include "core/strings.h"

namespace brindlex {
namespace {

int DayOfMonth(std::int64_t date) { return LocalTm(date).tm_mday; }

}  // namespace

TCalendarForm::TCalendarForm(QWidget* parent) : QDialog(parent) {
  setObjectName("TCalendarForm");
  setWindowTitle(QString::fromStdString(Str(54)));
  year_ = new QSpinBox(this);
  year_->setRange(1980, 2099);
  month_ = new QComboBox(this);
  for (int month = 1; month <= 12; ++month) month_->addItem(QString::fromStdString(MonthName(month)));
  days_ = new QTableWidget(6, 7, this);
  QStringList dayNames;
  for (int id = 455; id <= 461; ++id) dayNames << QString::fromStdString(Str(id));
  days_->setHorizontalHeaderLabels(dayNames);
  days_->verticalHeader()->hide();
  days_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  days_->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  days_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  days_->setSelectionMode(QAbstractItemView::SingleSelection);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QString::fromStdString(Str(202)), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(QString::fromStdString(Str(203)), QDialogButtonBox::RejectRole);

  auto* top = new QHBoxLayout;
  top->addWidget(month_, 1);
  top->addWidget(year_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(days_, 1);
  layout->addWidget(buttons);
  resize(320, 260);

  connect(year_, &QSpinBox::valueChanged, this, [this] { ShowMonth(); });
  connect(month_, &QComboBox::currentIndexChanged, this, [this] { ShowMonth(); });
  connect(days_, &QTableWidget::cellClicked, this, [this](int row, int column) { chosen_ = cells_[row * 7 + column]; });
  connect(days_, &QTableWidget::cellDoubleClicked, this, [this](int row, int column) {
    chosen_ = cells_[row * 7 + column];
    accept();
  });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

std::optional<std::int64_t> TCalendarForm::Pick(std::int64_t date) {
  chosen_ = date;
  const std::tm tm = LocalTm(date);
  {
    const QSignalBlocker blockYear(year_);
    const QSignalBlocker blockMonth(month_);
    year_->setValue(tm.tm_year + 1900);
    month_->setCurrentIndex(tm.tm_mon);
  }
  ShowMonth();
  if (exec() != QDialog::Accepted) return std::nullopt;
  return chosen_;
}

void TCalendarForm::ShowMonth() {
  const int month = month_->currentIndex() + 1;
  cells_ = CalendarMonthDays(year_->value(), month);
  for (int cell = 0; cell < kCalendarCells; ++cell) {
    auto* item = new QTableWidgetItem(QString::number(DayOfMonth(cells_[cell])));
    item->setTextAlignment(Qt::AlignCenter);
    // Days of the neighbouring months are there to click, but greyed.
    if (LocalTm(cells_[cell]).tm_mon + 1 != month) item->setForeground(Qt::gray);
    days_->setItem(cell / 7, cell % 7, item);
    if (cells_[cell] == chosen_) days_->setCurrentCell(cell / 7, cell % 7);
  }
}

}  // namespace brindlex
