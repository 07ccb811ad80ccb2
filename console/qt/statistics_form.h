// TForm3: the statistics of a user, a group or the whole program from the
// logs, by days or hours, hosts and URLs; one window per subject.
#pragma once

#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>

#include "console/statistics_window.h"

namespace brindlex {

class TForm3 final : public QWidget {
  Q_OBJECT

 public:
  TForm3(std::unique_ptr<StatisticsWindow> window, std::function<void(const FilterAddition&)> addToFilter,
         std::function<void(const StatisticsWindow&)> exportTable);
  // The first load; false when the window was closed meanwhile.
  bool Open();
  const StatisticsWindow& Window() const { return *window_; }
  QTableWidget* Table() { return table_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Loaded(StatisticsStep step);
  void Show();
  void ShowRow(QTableWidget* table, int row, const StatisticsRow& values);
  void PickDate(bool first);

  std::unique_ptr<StatisticsWindow> window_;
  std::function<void(const FilterAddition&)> addToFilter_;
  std::function<void(const StatisticsWindow&)> exportTable_;
  QLineEdit* start_ = nullptr;
  QLineEdit* end_ = nullptr;
  QPushButton* startCalendar_ = nullptr;
  QPushButton* endCalendar_ = nullptr;
  QPushButton* refresh_ = nullptr;
  QPushButton* back_ = nullptr;
  QPushButton* forward_ = nullptr;
  QButtonGroup* units_ = nullptr;
  QTableWidget* table_ = nullptr;
  QTableWidget* footer_ = nullptr;
  QLineEdit* label_ = nullptr;
  QPushButton* addToFilterButton_ = nullptr;
  QTimer blink_;
};

// At most one statistics window per user, per group and one for the program.
class StatisticsWindows final : public QObject {
  Q_OBJECT

 public:
  StatisticsWindows(ConsoleEngine& engine, QObject* parent) : QObject(parent), engine_(engine) {}
  ~StatisticsWindows() override;
  void SetHooks(std::function<void(const StatisticsWindowSubject&, const FilterAddition&)> addToFilter,
                std::function<void(const StatisticsWindow&)> exportTable);
  // Opens (or brings forward) the window of a subject over a period's dates,
  // or over the user's subscription.
  TForm3* OpenPeriod(const StatisticsWindowSubject& subject, double start, double end);
  TForm3* OpenTicket(const ConsoleUser& user);
  void CloseAll();

 private:
  TForm3* Existing(const StatisticsWindowKey& key);
  TForm3* Added(std::unique_ptr<StatisticsWindow> window);

  ConsoleEngine& engine_;
  std::function<void(const StatisticsWindowSubject&, const FilterAddition&)> addToFilter_;
  std::function<void(const StatisticsWindow&)> exportTable_;
  std::map<StatisticsWindowKey, TForm3*> windows_;
};

}  // namespace brindlex
