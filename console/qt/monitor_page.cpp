#include "console/qt/monitor_page.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QVBoxLayout>

#include "core/clock.h"
#include "core/monitor.h"
#include "core/strings.h"

namespace brindlex {
namespace {

constexpr const char* kSwitchCaptions[kMonitorSwitches] = {"HTTP", "FTP", "SMTP", "POP3", "SOCKS5", "PortMap", "DNS"};

}  // namespace

MonitorPage::MonitorPage(ConsoleEngine& engine, QWidget* parent) : QWidget(parent), engine_(engine) {
  list_ = new QListWidget(this);
  // A line is shown whole: the list scrolls sideways instead of cutting it.
  list_->setTextElideMode(Qt::ElideNone);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  pause_ = new QPushButton("#115", this);
  pause_->setCheckable(true);
  auto* clear = new QPushButton("#114", this);
  url_ = new QLineEdit(this);
  url_->setReadOnly(true);
  addToFilter_ = new QPushButton("#808", this);
  addToFilter_->setEnabled(false);

  auto* switches = new QHBoxLayout;
  for (int i = 0; i < kMonitorSwitches; ++i) {
    auto* box = new QCheckBox(kSwitchCaptions[i], this);
    box->setChecked(lines_.Shows(i));
    connect(box, &QCheckBox::toggled, this, [this, i](bool on) { Follow(lines_.SetShows(i, on)); });
    switches_[static_cast<std::size_t>(i)] = box;
    switches->addWidget(box);
  }
  switches->addStretch(1);
  switches->addWidget(pause_);
  switches->addWidget(clear);
  auto* urlRow = new QHBoxLayout;
  urlRow->addWidget(url_, 1);
  urlRow->addWidget(addToFilter_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(switches);
  layout->addWidget(list_, 1);
  layout->addLayout(urlRow);

  connect(pause_, &QPushButton::toggled, this, [this](bool on) { SetPaused(on); });
  connect(clear, &QPushButton::clicked, this, [this] { Clear(); });
  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) { Selected(row); });
  connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { ContextMenu(at); });
  connect(addToFilter_, &QPushButton::clicked, this, [this] {
    const auto request = lines_.AddToFilter(engine_.Users());
    if (request && openFilter_) openFilter_(*request);
  });
  engine_.SetMonitorSink([this](const MonitorEntry& entry) { Add(entry); });
}

void MonitorPage::Add(MonitorEntry entry) {
  // A line of the channel itself carries no time: it came now.
  if (entry.localTime == 0) entry.localTime = ProgramClock().LocalNow();
  Follow(lines_.Add(std::move(entry)));
}

void MonitorPage::Follow(MonitorChange change) {
  if (change == MonitorChange::kNone) return;
  const QSignalBlocker block(list_);
  const auto& texts = lines_.Texts();
  if (change == MonitorChange::kRebuilt) {
    list_->clear();
    for (const std::string& text : texts) list_->addItem(QString::fromStdString(text));
  } else {
    // The model cut its oldest lines in one step; the list follows.
    while (static_cast<std::size_t>(list_->count()) >= texts.size() && list_->count() > 0) delete list_->takeItem(0);
    list_->addItem(QString::fromStdString(texts.back()));
  }
  if (const auto selected = lines_.Selected()) {
    list_->setCurrentRow(static_cast<int>(*selected));
    Selected(static_cast<int>(*selected));
  } else {
    Selected(-1);
  }
}

void MonitorPage::Selected(int row) {
  if (row >= 0) lines_.Select(static_cast<std::size_t>(row));
  url_->setText(row >= 0 ? QString::fromStdString(lines_.SelectedUrl()) : QString());
  addToFilter_->setEnabled(row >= 0 && lines_.CanAddToFilter());
}

void MonitorPage::Clear() {
  lines_.Clear();
  list_->clear();
  Selected(-1);
}

void MonitorPage::SetPaused(bool paused) {
  {
    const QSignalBlocker block(pause_);
    pause_->setChecked(paused);
  }
  Follow(lines_.SetPaused(paused));
}

void MonitorPage::ContextMenu(const QPoint& at) {
  QMenu menu(this);
  QAction* pause = menu.addAction(QString::fromStdString(Str(115)), this, [this] { SetPaused(!lines_.Paused()); });
  pause->setCheckable(true);
  pause->setChecked(lines_.Paused());
  menu.addAction(QString::fromStdString(Str(114)), this, [this] { Clear(); });
  menu.exec(list_->viewport()->mapToGlobal(at));
}

}  // namespace brindlex
