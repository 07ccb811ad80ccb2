#include "console/export_layout.h"

#include <charconv>
#include <iterator>
#include <utility>

#include "core/chars.h"
#include "core/strings.h"
#include "stats/statistics_view.h"

namespace brindlex {

namespace {

constexpr int kApplicationTitleString = 961;
constexpr int kTitleRow = 0;
constexpr int kPeriodRow = 2;
constexpr int kHeaderRow = 4;
constexpr int kFirstDataRow = 5;

SheetCell CellAt(int row, int column, std::string text) {
  SheetCell cell;
  cell.row = row;
  cell.column = column;
  cell.text = std::move(text);
  return cell;
}

// Rows 1, 3 and 5: the title with the date, the period or caption in bold
// across the table, and the headers.
SheetLayout Head(std::string name, std::vector<double> widths, const std::string& period,
                 const std::vector<std::string>& headers, std::int64_t now) {
  SheetLayout sheet;
  sheet.name = std::move(name);
  sheet.columnWidths = std::move(widths);
  const int last = static_cast<int>(sheet.columnWidths.size()) - 1;

  sheet.cells.push_back(CellAt(kTitleRow, 0, Str(kApplicationTitleString) + "     " + FormatDateAndTime(now)));
  sheet.merges.push_back({kTitleRow, 0, kTitleRow, last});

  SheetCell periodCell = CellAt(kPeriodRow, 0, period);
  periodCell.bold = true;
  periodCell.align = HorizontalAlign::kCenter;
  sheet.cells.push_back(std::move(periodCell));
  sheet.merges.push_back({kPeriodRow, 0, kPeriodRow, last});

  for (int column = 0; column <= last; ++column) {
    SheetCell header = CellAt(kHeaderRow, column, headers[column]);
    header.align = HorizontalAlign::kCenter;
    header.verticalCenter = true;
    header.wrap = true;
    header.borders.right = header.borders.top = header.borders.bottom = true;
    sheet.cells.push_back(std::move(header));
  }
  return sheet;
}

// One data row: every cell text-formatted with left, bottom and right
// borders (and a top one where asked); an empty text is not written.
void AddDataRow(SheetLayout& sheet, int row, const std::vector<std::string>& texts, int firstFigureColumn,
                bool topBorder, std::string_view decimalSeparator) {
  for (int column = 0; column < static_cast<int>(texts.size()); ++column) {
    const bool figure = column >= firstFigureColumn;
    SheetCell cell =
        CellAt(row, column, figure ? WithDecimalSeparator(texts[column], decimalSeparator) : texts[column]);
    if (figure) cell.number = PlainNumber(texts[column]);
    cell.textFormat = true;
    cell.borders = {true, true, topBorder, true};
    sheet.cells.push_back(std::move(cell));
  }
}

std::string UsersPeriod(const UsersExport& table) {
  if (table.view == 3) return Str(1705);
  if (table.view == 4) return Str(1706);
  return Str(1701) + " " + FormatShortDate(table.start) + " " + Str(1702) + " " + FormatShortDate(table.end);
}

}  // namespace

std::optional<double> PlainNumber(std::string_view text) {
  std::size_t i = text.size() > 1 && text.front() == '-' ? 1 : 0;
  const std::size_t digitsFrom = i;
  bool point = false;
  for (; i < text.size(); ++i) {
    if (IsDigit(text[i])) continue;
    const bool betweenDigits = text[i] == '.' && i > digitsFrom && i + 1 < text.size() && IsDigit(text[i + 1]);
    if (!betweenDigits || point) return std::nullopt;
    point = true;
  }
  if (digitsFrom == text.size()) return std::nullopt;
  // Read without the process's locale, whose decimal separator may differ.
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string WithDecimalSeparator(std::string_view text, std::string_view separator) {
  std::string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool betweenDigits =
        text[i] == '.' && i > 0 && i + 1 < text.size() && IsDigit(text[i - 1]) && IsDigit(text[i + 1]);
    if (betweenDigits)
      result += separator;
    else
      result += text[i];
  }
  return result;
}

SheetLayout UsersExportLayout(const UsersExport& table, std::int64_t now, std::string_view decimalSeparator) {
  constexpr int kFigures = 2;  // sent, received, money and rating (C-F)
  constexpr int kRating = 5;
  SheetLayout sheet = Head(Str(1700), {23.43, 10.57, 13.29, 13.29, 13.29, 9.29}, UsersPeriod(table),
                           {Str(0), Str(2), Str(3), Str(4), Str(5), Str(6)}, now);
  const bool ticketView = table.view >= 3;
  int row = kFirstDataRow;
  for (const UsersExportRow& line : table.rows) {
    std::vector<std::string> texts(std::begin(line.texts), std::end(line.texts));
    const bool header = line.kind == UsersExportRowKind::kGroupHeader;
    if (header) {
      for (std::size_t i = 1; i < texts.size(); ++i) texts[i].clear();
      sheet.merges.push_back({row, 0, row, static_cast<int>(texts.size()) - 1});
    }
    // The ticket views have no share of a whole to rate against.
    if (ticketView) texts[kRating].clear();
    AddDataRow(sheet, row, texts, kFigures, header || line.kind == UsersExportRowKind::kGrandTotal, decimalSeparator);
    row += line.kind == UsersExportRowKind::kGroupTotal ? 2 : 1;
  }
  return sheet;
}

SheetLayout StatisticsExportLayout(const StatisticsExport& table, std::int64_t now, std::string_view decimalSeparator) {
  constexpr int kFigures = 1;  // time or speed, sent, received and rating (B-E)
  SheetLayout sheet =
      Head(Str(1704), {35.14, 10.57, 13.29, 13.29, 9.29}, table.caption, StatisticsColumnCaptions(table.level), now);
  int row = kFirstDataRow;
  auto add = [&](const StatisticsRow& line) {
    std::vector<std::string> texts;
    for (int column = 0; column < kStatisticsColumns; ++column)
      texts.push_back(StatisticsCell(line, table.level, column, table.form));
    AddDataRow(sheet, row++, texts, kFigures, false, decimalSeparator);
  };
  for (const StatisticsRow& line : table.rows) add(line);
  add(table.totals);
  return sheet;
}

}  // namespace brindlex
