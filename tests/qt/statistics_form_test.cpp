// The statistics window over real log files: the rows of each level reach
// the grid and the footer, and the levels are drawn for a person to look at.
#include "console/qt/statistics_form.h"

#include <stdlib.h>

#include <QDir>
#include <QPushButton>
#include <QTableWidget>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "console/local_engine.h"
#include "core/clock.h"
#include "core/date_time.h"
#include "core/file_io.h"
#include "core/log_files.h"
#include "core/program_folder.h"

namespace brindlex::testing {
namespace {

class StatisticsForm : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brindlex-statistics-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    SetProgramFolder(folder_);
    std::filesystem::create_directories(LoggingFolder());
    const std::int64_t day5 = LocalSeconds(2026, 12, 5), day6 = LocalSeconds(2026, 12, 6);
    Append(SessionLogPath(day5),
           {
               "Смирнова Анна, anna, 192.168.0.10, 12.05.26, 09:12:40, 5400000, 73400320, 2097152, 0, 0",
               "Волкова Мария, masha, 192.168.0.23, 12.05.26, 13:30:00, 3600000, 15728640, 524288, 0, 0",
           });
    Append(SessionLogPath(day6),
           {
               "Смирнова Анна, anna, 192.168.0.10, 12.06.26, 10:00:00, 1800000, 5242880, 262144, 0, 0",
           });
    Append(
        ConnectionLogPath(day5),
        {
            "HTTP, Смирнова Анна, anna, 192.168.0.10, 12.05.26, 09:12:41, bank.example.ru, 40000, 52428800, 1048576, "
            "http://bank.example.ru/statements/december.pdf",
            "HTTP, Смирнова Анна, anna, 192.168.0.10, 12.05.26, 09:20:00, bank.example.ru, 9000, 10485760, 524288, "
            "http://bank.example.ru/login",
            "HTTP, Волкова Мария, masha, 192.168.0.23, 12.05.26, 13:31:00, news.example.ru, 20000, 15728640, 524288, "
            "http://news.example.ru/",
        });
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  static void Append(const std::string& path, const std::vector<std::string>& lines) {
    std::ofstream file(path, std::ios::app | std::ios::binary);
    for (const std::string& line : lines) file << line << "\n";
  }

  void Shot(QWidget* window, const char* name) {
    const char* shots = std::getenv("BRINDLEX_SCREENSHOTS");
    if (shots == nullptr) return;
    QDir().mkpath(shots);
    EXPECT_TRUE(window->grab().save(QString("%1/%2.png").arg(shots, name)));
  }

  std::string folder_;
  LocalEngine engine_{[](int) {}};
};

TEST_F(StatisticsForm, EachLevelShowsItsRowsAndTheTotalsUnderThem) {
  StatisticsWindows windows(engine_, nullptr);
  TForm3* form = windows.OpenPeriod({}, LocalSecondsToDateTime(LocalSeconds(2026, 12, 5)),
                                    LocalSecondsToDateTime(LocalSeconds(2026, 12, 7)));
  ASSERT_NE(form, nullptr);
  form->resize(760, 420);
  QTableWidget* table = form->Table();
  // Two days with traffic; the footer holds the totals.
  ASSERT_EQ(table->rowCount(), 2);
  EXPECT_EQ(table->item(0, 0)->text(), "05.12.2026");
  Shot(form, "statistics-days");

  table->setCurrentCell(0, 0);
  form->findChild<QPushButton*>("forward")->click();
  ASSERT_EQ(table->rowCount(), 2);
  EXPECT_EQ(form->Window().Level(), StatisticsLevel::kHosts);
  Shot(form, "statistics-hosts");

  for (int row = 0; row < table->rowCount(); ++row)
    if (table->item(row, 0)->text() == "bank.example.ru") table->setCurrentCell(row, 0);
  form->findChild<QPushButton*>("forward")->click();
  ASSERT_EQ(table->rowCount(), 2);
  EXPECT_EQ(form->Window().Level(), StatisticsLevel::kUrls);
  Shot(form, "statistics-urls");

  // The same subject opens the same window.
  EXPECT_EQ(windows.OpenPeriod({}, 0, 0), form);
}

}  // namespace
}  // namespace brindlex::testing
