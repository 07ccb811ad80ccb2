// The spreadsheet the "export" button produces, as data: the users table and
// the statistics table laid out cell by cell, independent of the file format
// that is written in the end. The sheet shows the strings of the view; a
// figure that is one plain number goes out as that number (in the same text
// format), so that the spreadsheet can sum a column of them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/display_forms.h"
#include "stats/statistics.h"
#include "stats/statistics_view.h"

namespace brindlex {

enum class HorizontalAlign { kLeft, kCenter };

struct CellBorders {
  bool left = false;
  bool right = false;
  bool top = false;
  bool bottom = false;
};

// Rows and columns count from 0 (row 0 is the sheet's row 1, column 0 is A).
// A cell may have no text: it still carries its format and borders.
struct SheetCell {
  int row = 0;
  int column = 0;
  std::string text;
  // The figure as a number when the text is one plain decimal number (the
  // text then shows it with the system's separator); the writer stores the
  // number instead of the text.
  std::optional<double> number;
  bool bold = false;
  bool textFormat = false;  // number format "@"
  HorizontalAlign align = HorizontalAlign::kLeft;
  bool verticalCenter = false;
  bool wrap = false;
  CellBorders borders;
};

struct SheetRange {
  int firstRow = 0;
  int firstColumn = 0;
  int lastRow = 0;
  int lastColumn = 0;
};

struct SheetLayout {
  std::string name;
  // In the spreadsheet's characters; every column is aligned to the left.
  std::vector<double> columnWidths;
  std::vector<SheetCell> cells;  // each position at most once
  std::vector<SheetRange> merges;
};

// --- The users table ------------------------------------------------------------

enum class UsersExportRowKind { kGroupHeader, kUser, kGroupTotal, kGrandTotal };

struct UsersExportRow {
  UsersExportRowKind kind = UsersExportRowKind::kUser;
  // Columns A-F as the grid shows them: name, time, sent, received, money,
  // rating. A group header shows only its name.
  std::string texts[6];
};

struct UsersExport {
  std::vector<UsersExportRow> rows;  // the grid's order
  int view = 0;                      // 0-2 the period views, 3-4 the ticket views
  std::int64_t start = 0;            // the period's dates (local seconds), views 0-2
  std::int64_t end = 0;
};

// `now` (local seconds) dates the title row; `decimalSeparator` is the
// system's, put in place of a decimal point in the figures.
SheetLayout UsersExportLayout(const UsersExport& table, std::int64_t now, std::string_view decimalSeparator);

// --- The statistics table -------------------------------------------------------

struct StatisticsExport {
  std::span<const StatisticsRow> rows;  // the grid's order
  StatisticsRow totals;
  std::string caption;
  StatisticsLevel level = StatisticsLevel::kDays;
  StatisticsTrafficForm form;
};

SheetLayout StatisticsExportLayout(const StatisticsExport& table, std::int64_t now, std::string_view decimalSeparator);

// The value of a text that is one plain decimal number ("-" and digits, at
// most one point between digits); nothing for anything else ("1:02:03",
// "12 (0.01)", "12.50%", "").
std::optional<double> PlainNumber(std::string_view text);

// A point between two digits becomes `separator`; other points stay.
std::string WithDecimalSeparator(std::string_view text, std::string_view separator);

}  // namespace brindlex
