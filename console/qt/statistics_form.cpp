#include "console/qt/statistics_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QVBoxLayout>
#include <vector>

#include "console/qt/calendar_form.h"
#include "console/qt/grid_columns.h"
#include "console/qt/localise.h"
#include "console/qt/unit_buttons.h"
#include "console/qt/window_place.h"
#include "core/display_forms.h"
#include "stats/statistics_view.h"

namespace brindlex {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

TForm3::TForm3(std::unique_ptr<StatisticsWindow> window, std::function<void(const FilterAddition&)> addToFilter,
               std::function<void(const StatisticsWindow&)> exportTable)
    : QWidget(nullptr, Qt::Window),
      window_(std::move(window)),
      addToFilter_(std::move(addToFilter)),
      exportTable_(std::move(exportTable)) {
  setObjectName("TForm3");
  setAttribute(Qt::WA_DeleteOnClose);
  start_ = new QLineEdit(this);
  end_ = new QLineEdit(this);
  for (QLineEdit* edit : {start_, end_}) edit->setMaximumWidth(150);
  startCalendar_ = new QPushButton("#54", this);
  endCalendar_ = new QPushButton("#54", this);
  refresh_ = new QPushButton("#53", this);
  back_ = new QPushButton("#806", this);
  back_->setObjectName("back");
  forward_ = new QPushButton("#807", this);
  forward_->setObjectName("forward");
  auto* exportButton = new QPushButton("#923", this);
  auto* dates = new QHBoxLayout;
  dates->addWidget(start_);
  dates->addWidget(startCalendar_);
  dates->addWidget(end_);
  dates->addWidget(endCalendar_);
  dates->addWidget(refresh_);
  dates->addStretch(1);
  dates->addWidget(back_);
  dates->addWidget(forward_);

  auto* unitsRow = new QHBoxLayout;
  units_ = AddUnitButtons(this, unitsRow, [this](TrafficUnit unit) {
    window_->SetUnit(unit);
    Show();
  });
  unitsRow->addStretch(1);
  unitsRow->addWidget(exportButton);

  table_ = NewGrid(kStatisticsColumns, {}, this);
  table_->horizontalHeader()->setSectionsClickable(true);
  // The totals stay under the grid as a footer of one row.
  footer_ = NewGrid(kStatisticsColumns, {}, this);
  footer_->setRowCount(1);
  footer_->horizontalHeader()->hide();
  footer_->setFixedHeight(24);
  footer_->setSelectionMode(QAbstractItemView::NoSelection);
  footer_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  footer_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  connect(table_->horizontalHeader(), &QHeaderView::sectionResized, footer_,
          [this](int column, int, int size) { footer_->setColumnWidth(column, size); });

  label_ = new QLineEdit(this);
  label_->setReadOnly(true);
  addToFilterButton_ = new QPushButton("#808", this);
  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(label_, 1);
  filterRow->addWidget(addToFilterButton_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(dates);
  layout->addLayout(unitsRow);
  layout->addWidget(table_, 1);
  layout->addWidget(footer_);
  layout->addLayout(filterRow);
  resize(720, 480);
  LocaliseCaptions(this);

  const bool editable = window_->DatesEditable();
  for (QWidget* widget : std::initializer_list<QWidget*>{start_, end_, startCalendar_, endCalendar_})
    widget->setEnabled(editable);
  for (QLineEdit* edit : {start_, end_})
    connect(edit, &QLineEdit::textEdited, this, [this] { window_->MarkDatesEdited(); });
  connect(startCalendar_, &QPushButton::clicked, this, [this] { PickDate(true); });
  connect(endCalendar_, &QPushButton::clicked, this, [this] { PickDate(false); });
  connect(refresh_, &QPushButton::clicked, this, [this] {
    const RefreshOutcome outcome = window_->Refresh(start_->text().toStdString(), end_->text().toStdString());
    if (outcome.warning) QMessageBox::warning(this, Q(outcome.warning->caption), Q(outcome.warning->text));
    Loaded(outcome.step);
  });
  connect(forward_, &QPushButton::clicked, this, [this] { Loaded(window_->Forward()); });
  connect(back_, &QPushButton::clicked, this, [this] { Loaded(window_->Back()); });
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this] { Loaded(window_->Forward()); });
  connect(table_, &QTableWidget::currentCellChanged, this, [this](int row) {
    window_->Select(row);
    label_->setText(Q(window_->SelectedLabel()));
    addToFilterButton_->setEnabled(window_->AddToFilterEnabled());
  });
  connect(table_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
    window_->SortBy(column);
    Show();
  });
  connect(addToFilterButton_, &QPushButton::clicked, this, [this] {
    if (const auto addition = window_->AddToFilter(); addition && addToFilter_) addToFilter_(*addition);
  });
  connect(exportButton, &QPushButton::clicked, this, [this] {
    if (exportTable_) exportTable_(*window_);
  });
  // After an edit of the dates the refresh button blinks until the next load.
  blink_.setInterval(250);
  connect(&blink_, &QTimer::timeout, this, [this] {
    QFont font = refresh_->font();
    font.setBold(window_->BlinkTick());
    refresh_->setFont(font);
  });
  blink_.start();
}

bool TForm3::Open() {
  const StatisticsStep step = window_->Open();
  Loaded(step);
  return step != StatisticsStep::kClose;
}

void TForm3::Loaded(StatisticsStep step) {
  if (step == StatisticsStep::kClose) {
    // Closed while loading: the close that was refused then happens now.
    deleteLater();
    return;
  }
  if (step == StatisticsStep::kShown) Show();
}

void TForm3::ShowRow(QTableWidget* table, int row, const StatisticsRow& values) {
  for (int column = 0; column < kStatisticsColumns; ++column) {
    auto* item = new QTableWidgetItem(Q(StatisticsCell(values, window_->Level(), column, window_->TrafficForm())));
    if (column > 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table->setItem(row, column, item);
  }
}

void TForm3::Show() {
  setWindowTitle(Q(window_->Caption()));
  QStringList captions;
  for (const std::string& caption : StatisticsColumnCaptions(window_->Level())) captions << Q(caption);
  table_->setHorizontalHeaderLabels(captions);
  start_->setText(Q(window_->StartText()));
  end_->setText(Q(window_->EndText()));
  back_->setEnabled(window_->CanGoBack());
  forward_->setEnabled(window_->CanGoForward());

  const QSignalBlocker block(table_);
  const auto rows = window_->Rows();
  table_->setRowCount(static_cast<int>(rows.size()));
  for (std::size_t row = 0; row < rows.size(); ++row) ShowRow(table_, static_cast<int>(row), rows[row]);
  ShowRow(footer_, 0, window_->Totals());
  FitColumns(table_, {260, 110, 110, 110, 80});
  for (int column = 0; column < kStatisticsColumns; ++column)
    footer_->setColumnWidth(column, table_->columnWidth(column));
  if (window_->Selected() >= 0) table_->selectRow(window_->Selected());
  label_->setText(Q(window_->SelectedLabel()));
  addToFilterButton_->setEnabled(window_->AddToFilterEnabled());
}

void TForm3::PickDate(bool first) {
  QLineEdit* edit = first ? start_ : end_;
  std::int64_t date = 0;
  bool hasTime = false;
  if (!ParseDateAndTime(edit->text().toStdString(), date, hasTime)) return;
  TCalendarForm calendar(this);
  if (const auto picked = calendar.Pick(date)) {
    edit->setText(Q(FormatShortDate(*picked)));
    window_->MarkDatesEdited();
  }
}

void TForm3::closeEvent(QCloseEvent* event) {
  // A running load is told to stop; the window goes when it has.
  if (!window_->RequestClose()) event->ignore();
}

StatisticsWindows::~StatisticsWindows() {
  for (auto& [key, form] : windows_) {
    disconnect(form, &QObject::destroyed, this, nullptr);
    delete form;
  }
}

void StatisticsWindows::SetHooks(std::function<void(const StatisticsWindowSubject&, const FilterAddition&)> addToFilter,
                                 std::function<void(const StatisticsWindow&)> exportTable) {
  addToFilter_ = std::move(addToFilter);
  exportTable_ = std::move(exportTable);
}

TForm3* StatisticsWindows::Existing(const StatisticsWindowKey& key) {
  const auto open = windows_.find(key);
  if (open == windows_.end()) return nullptr;
  open->second->show();
  open->second->raise();
  open->second->activateWindow();
  return open->second;
}

TForm3* StatisticsWindows::Added(std::unique_ptr<StatisticsWindow> window) {
  const StatisticsWindowKey key = KeyOf(window->Subject());
  const StatisticsWindowSubject subject = window->Subject();
  auto* form = new TForm3(
      std::move(window),
      [this, subject](const FilterAddition& addition) {
        if (addToFilter_) addToFilter_(subject, addition);
      },
      exportTable_);
  windows_[key] = form;
  connect(form, &QObject::destroyed, this, [this, key] { windows_.erase(key); });
  PlaceOnScreen(form, qobject_cast<const QWidget*>(parent()), static_cast<int>(windows_.size()) - 1);
  form->show();
  return form->Open() ? form : nullptr;
}

TForm3* StatisticsWindows::OpenPeriod(const StatisticsWindowSubject& subject, double start, double end) {
  if (TForm3* open = Existing(KeyOf(subject))) return open;
  // Loading lets the console's events through, so that a close can come.
  return Added(std::make_unique<StatisticsWindow>(engine_, subject, start, end, [] { QApplication::processEvents(); }));
}

TForm3* StatisticsWindows::OpenTicket(const ConsoleUser& user) {
  if (TForm3* open = Existing(KeyOf(StatisticsSubjectOfUser(user)))) return open;
  return Added(std::make_unique<StatisticsWindow>(engine_, user, [] { QApplication::processEvents(); }));
}

void StatisticsWindows::CloseAll() {
  // Each window closes as its own close button would: one that is loading
  // stops the load first and goes when it has.
  std::vector<TForm3*> open;
  for (auto& [key, form] : windows_) open.push_back(form);
  for (TForm3* form : open) form->close();
}

}  // namespace brindlex
