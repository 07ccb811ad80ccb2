#include "console/xlsx_export.h"

#include <stdio.h>

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/strings.h"

namespace brindlex {
namespace {

// One cell as the file shows it, read back by tests/unit/xlsx_dump.py.
struct ShownCell {
  std::string text;
  bool bold = false;
  std::string numberFormat;
  std::string horizontal;
  std::string vertical;
  bool wrap = false;
  std::string borders;  // among "LRTB", "-" for none
  std::string kind;     // as the sheet's XML stores the value: "number", "text", "-"
};

struct ShownSheet {
  std::string name;
  std::map<std::string, std::string> widths;  // column letter -> width
  std::vector<std::string> merges;            // sorted
  std::map<std::string, ShownCell> cells;     // address -> cell

  bool Has(const std::string& address) const { return cells.count(address) != 0; }
  const ShownCell& At(const std::string& address) const {
    static const ShownCell kNone = [] {
      ShownCell none;
      none.text = "<no such cell>";
      return none;
    }();
    auto it = cells.find(address);
    return it == cells.end() ? kNone : it->second;
  }
  // Whether any cell of the sheet row has text or a format.
  bool RowUsed(int row) const {
    for (const auto& [address, cell] : cells)
      if (address.substr(1) == std::to_string(row)) return true;
    return false;
  }
};

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  std::string field;
  while (std::getline(stream, field, '\t')) fields.push_back(field);
  if (!line.empty() && line.back() == '\t') fields.push_back("");
  return fields;
}

// Writes the sheet to a temporary .xlsx and reads it back with openpyxl.
ShownSheet WriteAndRead(const SheetLayout& layout) {
  const std::string path = TemporaryExportPath();
  EXPECT_FALSE(path.empty());
  EXPECT_TRUE(WriteXlsx(layout, path));
  const std::string command =
      std::string("/usr/bin/python3 ") + BRINDLEX_SOURCE_DIR + "/tests/unit/xlsx_dump.py '" + path + "'";
  ShownSheet sheet;
  FILE* pipe = ::popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  if (!pipe) return sheet;
  std::string output;
  char buffer[4096];
  while (size_t n = std::fread(buffer, 1, sizeof(buffer), pipe)) output.append(buffer, n);
  EXPECT_EQ(::pclose(pipe), 0) << output;
  std::filesystem::remove(path);

  std::stringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    const std::vector<std::string> f = Fields(line);
    if (f[0] == "sheet") {
      sheet.name = f.at(1);
    } else if (f[0] == "width") {
      sheet.widths[f.at(1)] = f.at(2);
    } else if (f[0] == "merge") {
      sheet.merges.push_back(f.at(1));
    } else if (f[0] == "cell") {
      EXPECT_EQ(f.size(), 10u) << line;
      if (f.size() != 10) continue;
      sheet.cells[f[1]] = {f[2], f[3] == "1", f[4], f[5], f[6], f[7] == "1", f[8], f[9]};
    }
  }
  return sheet;
}

const std::int64_t kNow = LocalSeconds(2026, 12, 5, 14, 3, 9);

UsersExportRow Line(UsersExportRowKind kind, std::vector<std::string> texts) {
  UsersExportRow row;
  row.kind = kind;
  for (std::size_t i = 0; i < texts.size(); ++i) row.texts[i] = texts[i];
  return row;
}

UsersExportRow User(const std::string& name) {
  return Line(UsersExportRowKind::kUser, {name, "1:02:03", "1536 (1.5)", "20 (0.02)", "100 (2.5у.е.)", "12.50%"});
}

UsersExportRow Total(UsersExportRowKind kind) {
  return Line(kind, {"Итого:", "2:04:06", "3072 (3)", "40", "200 (5у.е.)", "25.00%"});
}

// The head every users sheet has: title, period and headers.
void ExpectUsersHead(const ShownSheet& sheet, const std::string& period) {
  EXPECT_EQ(sheet.name, "Пользователи");
  EXPECT_EQ(sheet.widths,
            (std::map<std::string, std::string>{
                {"A", "23.43"}, {"B", "10.57"}, {"C", "13.29"}, {"D", "13.29"}, {"E", "13.29"}, {"F", "9.29"}}));
  EXPECT_EQ(sheet.At("A1").text, "Brindlex V2.8     05.12.2026 14:03:09");
  EXPECT_FALSE(sheet.At("A1").bold);
  EXPECT_EQ(sheet.At("A1").horizontal, "left");
  EXPECT_EQ(sheet.At("A3").text, period);
  EXPECT_TRUE(sheet.At("A3").bold);
  EXPECT_EQ(sheet.At("A3").horizontal, "center");
  EXPECT_FALSE(sheet.RowUsed(2));
  EXPECT_FALSE(sheet.RowUsed(4));
  const std::vector<std::string> headers = {
      "Группы/пользователи", "Время", "Отправл.", "Получено", "Деньги", "Рейтинг"};
  for (int column = 0; column < 6; ++column) {
    const std::string address = std::string(1, static_cast<char>('A' + column)) + "5";
    const ShownCell& header = sheet.At(address);
    EXPECT_EQ(header.text, headers[column]) << address;
    EXPECT_FALSE(header.bold) << address;
    EXPECT_EQ(header.horizontal, "center") << address;
    EXPECT_EQ(header.vertical, "center") << address;
    EXPECT_TRUE(header.wrap) << address;
    EXPECT_EQ(header.borders, "RTB") << address;
    EXPECT_EQ(header.numberFormat, "General") << address;
  }
}

// What a data cell should hold: a text, or a number a spreadsheet can sum
// (its text is then the value as the file stores it).
struct Expected {
  Expected(const char* shown) : text(shown) {}
  Expected(std::string shown) : text(std::move(shown)) {}
  std::string text;
  bool number = false;
};
Expected Number(const std::string& value) {
  Expected expected(value);
  expected.number = true;
  return expected;
}

// A data row: every cell of A..last text-formatted, left-aligned, with
// left, bottom and right borders (and a top one where asked).
void ExpectDataRow(const ShownSheet& sheet, int row, const std::vector<Expected>& texts, bool topBorder) {
  for (std::size_t column = 0; column < texts.size(); ++column) {
    const std::string address = std::string(1, static_cast<char>('A' + column)) + std::to_string(row);
    const ShownCell& cell = sheet.At(address);
    EXPECT_EQ(cell.text, texts[column].text) << address;
    EXPECT_EQ(cell.kind, texts[column].number ? "number" : texts[column].text.empty() ? "-" : "text") << address;
    EXPECT_EQ(cell.numberFormat, "@") << address;
    EXPECT_EQ(cell.horizontal, "left") << address;
    EXPECT_FALSE(cell.bold) << address;
    EXPECT_EQ(cell.borders, topBorder ? "LRTB" : "LRB") << address;
  }
}

TEST(XlsxExport, AnEmptyUsersViewHasTheHeadAndTheHeadersOnly) {
  UsersExport table;
  table.view = 2;
  table.start = LocalSeconds(2026, 12, 1);
  table.end = LocalSeconds(2026, 12, 9);
  const ShownSheet sheet = WriteAndRead(UsersExportLayout(table, kNow, ","));
  ExpectUsersHead(sheet, "Траффик с 01.12.2026 по 09.12.2026");
  EXPECT_EQ(sheet.merges, (std::vector<std::string>{"A1:F1", "A3:F3"}));
  for (int row = 6; row < 12; ++row) EXPECT_FALSE(sheet.RowUsed(row)) << row;
}

TEST(XlsxExport, GroupsShownLeaveAnEmptyRowAfterEachGroupTotal) {
  UsersExport table;
  table.view = 0;
  table.start = LocalSeconds(2026, 12, 1);
  table.end = LocalSeconds(2026, 12, 31);
  table.rows = {Line(UsersExportRowKind::kGroupHeader, {"Бухгалтерия", "ignored", "1.5"}),
                User("Иванов И.И."),
                Total(UsersExportRowKind::kGroupTotal),
                Line(UsersExportRowKind::kGroupHeader, {"Склад"}),
                User("v1.2"),
                Total(UsersExportRowKind::kGroupTotal),
                Total(UsersExportRowKind::kGrandTotal)};
  const ShownSheet sheet = WriteAndRead(UsersExportLayout(table, kNow, ","));
  ExpectUsersHead(sheet, "Траффик с 01.12.2026 по 31.12.2026");
  EXPECT_EQ(sheet.merges, (std::vector<std::string>{"A10:F10", "A1:F1", "A3:F3", "A6:F6"}));

  EXPECT_EQ(sheet.At("A6").text, "Бухгалтерия");
  EXPECT_EQ(sheet.At("A6").borders, "LRTB");
  EXPECT_EQ(sheet.At("A6").numberFormat, "@");
  EXPECT_FALSE(sheet.Has("B6")) << "a group header is one merged cell";
  ExpectDataRow(sheet, 7, {"Иванов И.И.", "1:02:03", "1536 (1,5)", "20 (0,02)", "100 (2,5у.е.)", "12,50%"}, false);
  ExpectDataRow(sheet, 8, {"Итого:", "2:04:06", "3072 (3)", Number("40"), "200 (5у.е.)", "25,00%"}, false);
  EXPECT_FALSE(sheet.RowUsed(9)) << "the empty row after a group total";
  EXPECT_EQ(sheet.At("A10").text, "Склад");
  ExpectDataRow(sheet, 11, {"v1.2", "1:02:03", "1536 (1,5)", "20 (0,02)", "100 (2,5у.е.)", "12,50%"}, false);
  ExpectDataRow(sheet, 12, {"Итого:", "2:04:06", "3072 (3)", Number("40"), "200 (5у.е.)", "25,00%"}, false);
  EXPECT_FALSE(sheet.RowUsed(13));
  ExpectDataRow(sheet, 14, {"Итого:", "2:04:06", "3072 (3)", Number("40"), "200 (5у.е.)", "25,00%"}, true);
  EXPECT_FALSE(sheet.RowUsed(15));
}

TEST(XlsxExport, GroupsHiddenLeaveNoEmptyRows) {
  UsersExport table;
  table.view = 1;
  table.start = table.end = LocalSeconds(2026, 12, 5);
  table.rows = {User("Петров"), User("Сидоров"), Total(UsersExportRowKind::kGrandTotal)};
  const ShownSheet sheet = WriteAndRead(UsersExportLayout(table, kNow, "."));
  ExpectUsersHead(sheet, "Траффик с 05.12.2026 по 05.12.2026");
  EXPECT_EQ(sheet.merges, (std::vector<std::string>{"A1:F1", "A3:F3"}));
  ExpectDataRow(sheet, 6, {"Петров", "1:02:03", "1536 (1.5)", "20 (0.02)", "100 (2.5у.е.)", "12.50%"}, false);
  ExpectDataRow(sheet, 7, {"Сидоров", "1:02:03", "1536 (1.5)", "20 (0.02)", "100 (2.5у.е.)", "12.50%"}, false);
  ExpectDataRow(sheet, 8, {"Итого:", "2:04:06", "3072 (3)", Number("40"), "200 (5у.е.)", "25.00%"}, true);
  EXPECT_FALSE(sheet.RowUsed(9));
}

TEST(XlsxExport, TheTicketViewsNameThemselvesAndLeaveTheRatingEmpty) {
  UsersExport table;
  table.view = 4;
  table.rows = {User("Петров")};
  ShownSheet sheet = WriteAndRead(UsersExportLayout(table, kNow, ","));
  ExpectUsersHead(sheet, "Осталось в открытых абонементах");
  ExpectDataRow(sheet, 6, {"Петров", "1:02:03", "1536 (1,5)", "20 (0,02)", "100 (2,5у.е.)", ""}, false);

  table.view = 3;
  sheet = WriteAndRead(UsersExportLayout(table, kNow, ","));
  EXPECT_EQ(sheet.At("A3").text, "Траффик по открытым абонементам");
  EXPECT_EQ(sheet.At("F6").text, "");
}

StatisticsRow Stat(std::string label, std::uint64_t sent, std::uint64_t received, std::uint64_t timeMs, double rating) {
  StatisticsRow row;
  row.label = std::move(label);
  row.sent = sent;
  row.received = received;
  row.timeMs = timeMs;
  row.rating = rating;
  return row;
}

TEST(XlsxExport, TheStatisticsTableEndsWithTheTotals) {
  const std::vector<StatisticsRow> rows = {Stat("v1.2.lan", 2048, 3072, 2000, 25), Stat("idle.lan", 1024, 9216, 0, 75)};
  StatisticsExport table;
  table.rows = rows;
  table.totals = Stat(Str(813), 3072, 12288, 2000, 100);
  table.caption = "Статистика итоговая за 05.12.2026";
  table.level = StatisticsLevel::kHosts;
  table.form.unit = TrafficUnit::Kb;
  const ShownSheet sheet = WriteAndRead(StatisticsExportLayout(table, kNow, ","));
  EXPECT_EQ(sheet.name, "Статистика");
  EXPECT_EQ(sheet.widths, (std::map<std::string, std::string>{
                              {"A", "35.14"}, {"B", "10.57"}, {"C", "13.29"}, {"D", "13.29"}, {"E", "9.29"}}));
  EXPECT_EQ(sheet.merges, (std::vector<std::string>{"A1:E1", "A3:E3"}));
  EXPECT_EQ(sheet.At("A1").text, "Brindlex V2.8     05.12.2026 14:03:09");
  EXPECT_EQ(sheet.At("A3").text, "Статистика итоговая за 05.12.2026");
  EXPECT_TRUE(sheet.At("A3").bold);
  EXPECT_EQ(sheet.At("A3").horizontal, "center");
  const std::vector<std::string> headers = {"Имя хоста", "Скорость", "Отправлено", "Получено", "Рейтинг"};
  for (int column = 0; column < 5; ++column) {
    const std::string address = std::string(1, static_cast<char>('A' + column)) + "5";
    EXPECT_EQ(sheet.At(address).text, headers[column]);
    EXPECT_EQ(sheet.At(address).borders, "RTB");
    EXPECT_TRUE(sheet.At(address).wrap);
  }
  // Speed: 3072 bytes in 2 seconds are 1.5 Kb per second.
  ExpectDataRow(sheet, 6, {"v1.2.lan", Number("1.5"), Number("2"), Number("3"), "25,00%"}, false);
  ExpectDataRow(sheet, 7, {"idle.lan", "-", Number("1"), Number("9"), "75,00%"}, false);
  ExpectDataRow(sheet, 8, {"Всего", Number("6"), Number("3"), Number("12"), "100,00%"}, false);
  EXPECT_FALSE(sheet.RowUsed(9));
  EXPECT_FALSE(sheet.Has("F6"));
}

TEST(XlsxExport, TheDaysTableHeadsWithDayAndTime) {
  StatisticsExport table;
  table.totals = Stat(Str(813), 0, 0, 3723000, 100);
  table.level = StatisticsLevel::kDays;
  const ShownSheet sheet = WriteAndRead(StatisticsExportLayout(table, kNow, ","));
  EXPECT_EQ(sheet.At("A5").text, "День");
  EXPECT_EQ(sheet.At("B5").text, "Время");
  EXPECT_EQ(sheet.At("A6").text, "Всего") << "even with no rows";
  EXPECT_EQ(sheet.At("B6").text, "1:02:03");
  EXPECT_FALSE(sheet.RowUsed(7));
}

// A figure that is one number goes out as a number, in the text format the
// data rows have, so that a spreadsheet sums the column; pairs, times and
// percentages stay the view's text.
TEST(XlsxExport, PlainFiguresAreNumbersTheSpreadsheetCanSum) {
  UsersExport table;
  table.view = 2;
  table.rows = {Line(UsersExportRowKind::kUser, {"42", "1:00:00", "3845", "12.5", "0.75 (1у.е.)", "33.33"}),
                Line(UsersExportRowKind::kUser, {"Бух", "0:00:01", "-7", "1.2.3", "1.", "007"}),
                Line(UsersExportRowKind::kGrandTotal, {"Итого:", "", "3838", "3845 (3.75)", "", "100"})};
  const ShownSheet sheet = WriteAndRead(UsersExportLayout(table, kNow, ","));
  // A name that looks like a number stays the name.
  ExpectDataRow(sheet, 6, {"42", "1:00:00", Number("3845"), Number("12.5"), "0,75 (1у.е.)", Number("33.33")}, false);
  ExpectDataRow(sheet, 7, {"Бух", "0:00:01", Number("-7"), "1,2,3", "1.", Number("7")}, false);
  ExpectDataRow(sheet, 8, {"Итого:", "", Number("3838"), "3845 (3,75)", "", Number("100")}, true);

  StatisticsExport days;
  const std::vector<StatisticsRow> rows = {Stat("08.12.2026", 1'000'000, 3'579'000, 60'000, 100)};
  days.rows = rows;
  days.totals = Stat(Str(813), 1'000'000, 3'579'000, 60'000, 100);
  days.form = {TrafficUnit::Kb, 10, 1048576};
  const ShownSheet stats = WriteAndRead(StatisticsExportLayout(days, kNow, ","));
  // Sent and received with the overhead, in whole kilobytes.
  ExpectDataRow(stats, 6, {"08.12.2026", "0:01:00", Number("1074"), Number("3844"), "100,00%"}, false);
  days.form = {TrafficUnit::Mb, 0, 1048576};
  ExpectDataRow(WriteAndRead(StatisticsExportLayout(days, kNow, ",")), 7,
                {"Всего", "0:01:00", Number("0.95"), Number("3.41"), "100,00%"}, false);
}

TEST(XlsxExport, OnlyPlainDecimalTextsAreNumbers) {
  EXPECT_EQ(PlainNumber("3845"), 3845.0);
  EXPECT_EQ(PlainNumber("-7"), -7.0);
  EXPECT_EQ(PlainNumber("0.25"), 0.25);
  EXPECT_EQ(PlainNumber("9223372036854775807"), 9223372036854775807.0);
  for (const char* text : {"", "-", ".5", "5.", "1.2.3", "1,5", "12.50%", "1:02:03", "3 (0.01)", "1e5", "+3", " 3",
                           "3 ", "--3", "0x10", "inf", "nan"})
    EXPECT_EQ(PlainNumber(text), std::nullopt) << text;
}

TEST(XlsxExport, OnlyPointsBetweenDigitsTakeTheSeparator) {
  EXPECT_EQ(WithDecimalSeparator("1.5 (2.5у.е.) .5 5. a.b 1.2.3", ","), "1,5 (2,5у.е.) .5 5. a.b 1,2,3");
  EXPECT_EQ(WithDecimalSeparator("12.50%", "٫"), "12٫50%");
  EXPECT_EQ(WithDecimalSeparator("", ","), "");
}

TEST(XlsxExport, AFailureIsReportedAndLeavesNoFile) {
  SheetLayout layout = UsersExportLayout(UsersExport{}, kNow, ",");
  EXPECT_FALSE(WriteXlsx(layout, "/nonexistent-folder/export.xlsx"));

  const std::string path = TemporaryExportPath();
  ASSERT_FALSE(path.empty());
  layout.name = "no [brackets]";  // not a valid sheet name
  EXPECT_FALSE(WriteXlsx(layout, path));
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(XlsxExport, TemporaryNamesAreNewFilesInTheTempFolder) {
  const std::string first = TemporaryExportPath();
  const std::string second = TemporaryExportPath();
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  for (const std::string& path : {first, second}) {
    const std::filesystem::path file(path);
    EXPECT_EQ(file.extension(), ".xlsx");
    EXPECT_EQ(file.parent_path(), std::filesystem::temp_directory_path());
    EXPECT_TRUE(std::filesystem::exists(file));
    std::filesystem::remove(file);
  }
}

}  // namespace
}  // namespace brindlex
