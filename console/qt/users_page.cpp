#include "console/qt/users_page.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "console/qt/calendar_form.h"
#include "console/qt/grid_columns.h"
#include "console/qt/speed_window.h"
#include "console/qt/unit_buttons.h"
#include "console/qt/wait_window.h"
#include "core/clock.h"
#include "core/display_forms.h"
#include "core/report_exception.h"
#include "core/strings.h"

namespace brindlex {
namespace {

constexpr int kIndentRole = Qt::UserRole + 1;

// Column 0 of user rows and group totals stands in from the group's header.
class IndentDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem shifted = option;
    shifted.rect.setLeft(shifted.rect.left() + index.data(kIndentRole).toInt());
    QStyledItemDelegate::paint(painter, shifted, index);
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return QStyledItemDelegate::sizeHint(option, index) + QSize(index.data(kIndentRole).toInt(), 0);
  }
};

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

UsersPage::UsersPage(ConsoleEngine& engine, SpeedWindows& speedWindows, QWidget* parent)
    : QWidget(parent), engine_(engine), speedWindows_(speedWindows) {
  periods_ = new QTabBar(this);
  for (int caption : {152, 1800, 1801, 1802}) periods_->addTab(QString("#%1").arg(caption));
  ticketTabs_ = new QTabBar(this);
  ticketTabs_->addTab("#1803");
  ticketTabs_->addTab("#1804");
  ticketTabs_->setShape(QTabBar::RoundedSouth);

  datePanel_ = new QWidget(this);
  from_ = new QLineEdit(datePanel_);
  to_ = new QLineEdit(datePanel_);
  for (QLineEdit* edit : {from_, to_}) edit->setMaximumWidth(100);
  fromCalendar_ = new QPushButton("#54", datePanel_);
  toCalendar_ = new QPushButton("#54", datePanel_);
  refresh_ = new QPushButton("#53", datePanel_);
  ticketUsers_ = new QCheckBox("#52", datePanel_);
  ticketUsers_->setChecked(options_.showTicketUsers);
  auto* dates = new QHBoxLayout(datePanel_);
  dates->setContentsMargins(0, 0, 0, 0);
  dates->addWidget(new QLabel("#1805", datePanel_));
  dates->addWidget(from_);
  dates->addWidget(fromCalendar_);
  dates->addWidget(new QLabel("#1702", datePanel_));
  dates->addWidget(to_);
  dates->addWidget(toCalendar_);
  dates->addWidget(refresh_);
  dates->addWidget(ticketUsers_);
  dates->addStretch(1);
  ticketButton_ = new QPushButton("#925", this);

  auto* unitsRow = new QHBoxLayout;
  units_ = AddUnitButtons(this, unitsRow, [this](TrafficUnit unit) {
    options_.unit = unit;
    Show();
  });
  showGroups_ = new QCheckBox("#955", this);
  showGroups_->setChecked(options_.showGroups);
  unitsRow->addSpacing(20);
  unitsRow->addWidget(showGroups_);
  // Per window: the console keeps no settings of its own.
  hideIdle_ = new QCheckBox("#1380", this);
  hideIdle_->setChecked(options_.hideIdle);
  unitsRow->addWidget(hideIdle_);
  unitsRow->addStretch(1);
  unitsRow->addWidget(ticketButton_);

  table_ = NewGrid(kUsersColumns, UsersColumnCaptions(), this);
  table_->setItemDelegateForColumn(kUsersName, new IndentDelegate(table_));
  table_->setContextMenuPolicy(Qt::CustomContextMenu);
  table_->horizontalHeader()->setSectionsClickable(true);
  table_->horizontalHeader()->setStretchLastSection(true);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(periods_);
  layout->addWidget(datePanel_);
  layout->addLayout(unitsRow);
  layout->addWidget(table_, 1);
  layout->addWidget(ticketTabs_);

  connect(periods_, &QTabBar::currentChanged, this, [this] { ViewChanged(); });
  connect(ticketTabs_, &QTabBar::currentChanged, this, [this] { ViewChanged(); });
  connect(showGroups_, &QCheckBox::toggled, this, [this](bool on) {
    options_.showGroups = on;
    Rebuild();
  });
  connect(hideIdle_, &QCheckBox::toggled, this, [this](bool on) {
    options_.hideIdle = on;
    Rebuild();
  });
  connect(ticketUsers_, &QCheckBox::toggled, this, [this](bool on) {
    options_.showTicketUsers = on;
    Rebuild();
  });
  connect(table_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
    options_.sortColumn = column;
    Rebuild();
  });
  connect(table_, &QTableWidget::currentCellChanged, this, [this](int row) {
    if (row >= 0) grid_.Select(static_cast<std::size_t>(row));
  });
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row) {
    if (grid_.Commands(row).statistics && hooks_.openStatistics) hooks_.openStatistics(grid_, row);
  });
  connect(table_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { ContextMenu(at); });
  connect(fromCalendar_, &QPushButton::clicked, this, [this] { PickDate(true); });
  connect(toCalendar_, &QPushButton::clicked, this, [this] { PickDate(false); });
  connect(refresh_, &QPushButton::clicked, this, [this] { Refresh(); });
  for (QLineEdit* edit : {from_, to_})
    connect(edit, &QLineEdit::textEdited, this, [this] { datesEdited_ = true; });
  connect(ticketButton_, &QPushButton::clicked, this, [this] { OpenTicketOfCurrentRow(); });
  ViewChanged();
}

UsersView UsersPage::CurrentView() const {
  if (periods_->currentIndex() < 3) return static_cast<UsersView>(periods_->currentIndex());
  return ticketTabs_->currentIndex() == 0 ? UsersView::kTicketUsed : UsersView::kTicketRemaining;
}

std::optional<DateSpan> UsersPage::Dates() const {
  return ViewDates(CurrentView(), ProgramClock().LocalNow(), grid_.Snapshot().billingDay, interval_);
}

void UsersPage::ViewChanged() {
  options_.view = CurrentView();
  // Leaving the interval drops what was typed and not taken.
  datesEdited_ = false;
  const UsersPanel panel = PanelOf(options_.view);
  datePanel_->setVisible(panel.datePanel);
  ticketTabs_->setVisible(!IsPeriodView(options_.view));
  ticketButton_->setVisible(panel.ticketButton);
  // In views 0-1 the calendars are shown but not usable.
  for (QWidget* widget : std::initializer_list<QWidget*>{from_, to_, fromCalendar_, toCalendar_})
    widget->setEnabled(panel.datesEditable);
  Rebuild();
}

void UsersPage::Rebuild() {
  grid_.Rebuild(engine_.Users(), options_);
  ShowDates();
  Show();
}

void UsersPage::ShowDates() {
  if (datesEdited_) return;
  if (const auto dates = Dates()) {
    from_->setText(Q(FormatShortDate(dates->first)));
    to_->setText(Q(FormatShortDate(dates->last)));
  }
}

void UsersPage::Show() {
  const auto& rows = grid_.Rows();
  const QSignalBlocker block(table_);
  table_->setRowCount(static_cast<int>(rows.size()));
  for (std::size_t row = 0; row < rows.size(); ++row) {
    for (int column = 0; column < kUsersColumns; ++column) {
      auto* item = new QTableWidgetItem(Q(grid_.Cell(row, column)));
      const UsersCellLook look = grid_.Look(row, column);
      QFont font = table_->font();
      font.setItalic(look.italic);
      font.setBold(look.bold);
      item->setFont(font);
      if (look.grey) item->setForeground(Qt::gray);
      item->setData(kIndentRole, look.indent);
      if (column >= kUsersTime) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      table_->setItem(static_cast<int>(row), column, item);
    }
  }
  FitColumns(table_, {200, 110, 80, 130, 130, 120, 70});
  if (const auto selected = grid_.Selected()) table_->selectRow(static_cast<int>(*selected));
}

bool UsersPage::TakeIntervalDates() {
  std::string warning;
  const auto first = ParseIntervalDate(from_->text().toStdString(), warning);
  QLineEdit* bad = first ? nullptr : from_;
  const auto last = first ? ParseIntervalDate(to_->text().toStdString(), warning) : std::nullopt;
  if (first && !last) bad = to_;
  if (bad != nullptr) {
    QMessageBox::warning(this, Q(Str(780)), Q(warning));
    bad->setFocus();
    return false;
  }
  interval_ = DateSpan{*first, *last};
  datesEdited_ = false;
  return true;
}

void UsersPage::PickDate(bool first) {
  const auto dates = Dates();
  if (!dates) return;
  // The calendar opens on what the edit shows, a date typed and not yet taken
  // included.
  QLineEdit* edit = first ? from_ : to_;
  std::string ignored;
  const auto shown = ParseIntervalDate(edit->text().toStdString(), ignored);
  TCalendarForm calendar(this);
  const auto picked = calendar.Pick(shown ? *shown : first ? dates->first : dates->last);
  if (!picked) return;
  edit->setText(Q(FormatShortDate(*picked)));
  datesEdited_ = true;
}

void UsersPage::Refresh() {
  if (options_.view == UsersView::kInterval && !TakeIntervalDates()) return;
  const auto dates = Dates();
  if (!dates) return;
  TPlsWaitForm wait(this);
  RefreshCounters(engine_, options_.view, *dates,
                  [&wait](const std::string& file, std::int64_t fileDone, std::int64_t fileSize, std::int64_t allDone,
                          std::int64_t allSize) { wait.Show(file, fileDone, fileSize, allDone, allSize); });
  wait.hide();
  Rebuild();
}

std::optional<std::size_t> UsersPage::CurrentRow() const {
  const int row = table_->currentRow();
  if (row < 0 || static_cast<std::size_t>(row) >= grid_.Rows().size()) return std::nullopt;
  return static_cast<std::size_t>(row);
}

void UsersPage::ContextMenu(const QPoint& at) {
  const auto row = CurrentRow();
  const UsersRowCommands commands = row ? grid_.Commands(*row) : UsersRowCommands{};
  QMenu menu(this);
  auto add = [&](int caption, bool enabled, auto action) {
    QAction* item = menu.addAction(Q(Str(caption)), this, action);
    item->setEnabled(enabled);
    return item;
  };
  add(106, commands.statistics && hooks_.openStatistics, [this, row] { hooks_.openStatistics(grid_, *row); });
  add(107, commands.speed, [this, row] { OpenSpeed(*row); });
  add(108, commands.email && hooks_.sendMessage, [this, row] { hooks_.sendMessage(grid_, *row); });
  add(109, commands.closeSession, [this, row] { grid_.CloseSession(engine_, *row); });
  QAction* disable = add(110, commands.disable, [this, row] {
    grid_.ToggleDisabled(engine_, *row);
    Rebuild();
  });
  disable->setCheckable(true);
  disable->setChecked(commands.disabledMark);
  add(1806, commands.ticket && hooks_.openTicket, [this, row] { hooks_.openTicket(grid_, *row); });
  menu.addSeparator();
  add(924, true, [this] { StartRecount(); });
  add(923, static_cast<bool>(hooks_.exportTable), [this] { hooks_.exportTable(grid_); });
  menu.exec(table_->viewport()->mapToGlobal(at));
}

void UsersPage::OpenTicketOfCurrentRow() {
  // A group's row, or none, has no subscription to show.
  const auto row = CurrentRow();
  if (!row || grid_.UserOf(*row) == nullptr || !grid_.Commands(*row).ticket) {
    QMessageBox::warning(this, QString(kApplicationTitle), Q(Str(1413)));
    return;
  }
  if (hooks_.openTicket) hooks_.openTicket(grid_, *row);
}

void UsersPage::OpenSpeed(std::size_t row) {
  if (const auto target = grid_.SpeedTargetOf(row)) speedWindows_.Open(*target);
}

void UsersPage::StartRecount() {
  // The recount is a program of its own; the console starts it and goes on.
  const QString beside = QCoreApplication::applicationDirPath();
  QString program = QDir(beside).filePath("retally");
  if (!QFileInfo(program).isExecutable()) program = QStandardPaths::findExecutable("retally");
  if (program.isEmpty()) {
    QMessageBox::warning(this, QString(kApplicationTitle), Q(Str(1811) + "\n" + StrWith(1416, beside.toStdString())));
    return;
  }
  if (!QProcess::startDetached(program, {}))
    QMessageBox::warning(this, QString(kApplicationTitle), Q(StrWith(1417, program.toStdString())));
}

}  // namespace brindlex
