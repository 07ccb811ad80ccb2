#include "console/xlsx_export.h"

#include <unistd.h>
#include <xlsxwriter.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <system_error>
#include <vector>

namespace brindlex {

namespace {

// The writer's formats, one per distinct look: the library keeps every
// format it is given, so equal looks share one.
class Formats {
 public:
  explicit Formats(lxw_workbook* workbook) : workbook_(workbook) {}

  lxw_format* For(const SheetCell& cell) {
    const unsigned key = cell.bold | cell.textFormat << 1 | (cell.align == HorizontalAlign::kCenter) << 2 |
                         cell.verticalCenter << 3 | cell.wrap << 4 | cell.borders.left << 5 | cell.borders.right << 6 |
                         cell.borders.top << 7 | cell.borders.bottom << 8;
    auto [it, added] = formats_.try_emplace(key, nullptr);
    if (!added) return it->second;
    lxw_format* format = workbook_add_format(workbook_);
    it->second = format;
    if (!format) return nullptr;
    if (cell.bold) format_set_bold(format);
    if (cell.textFormat) format_set_num_format(format, "@");
    format_set_align(format, cell.align == HorizontalAlign::kCenter ? LXW_ALIGN_CENTER : LXW_ALIGN_LEFT);
    if (cell.verticalCenter) format_set_align(format, LXW_ALIGN_VERTICAL_CENTER);
    if (cell.wrap) format_set_text_wrap(format);
    if (cell.borders.left) format_set_left(format, LXW_BORDER_THIN);
    if (cell.borders.right) format_set_right(format, LXW_BORDER_THIN);
    if (cell.borders.top) format_set_top(format, LXW_BORDER_THIN);
    if (cell.borders.bottom) format_set_bottom(format, LXW_BORDER_THIN);
    return format;
  }

 private:
  lxw_workbook* workbook_;
  std::map<unsigned, lxw_format*> formats_;
};

const SheetCell* CellAt(const SheetLayout& sheet, int row, int column) {
  for (const SheetCell& cell : sheet.cells)
    if (cell.row == row && cell.column == column) return &cell;
  return nullptr;
}

bool WriteSheet(lxw_workbook* workbook, const SheetLayout& sheet) {
  lxw_worksheet* worksheet = workbook_add_worksheet(workbook, sheet.name.c_str());
  if (!worksheet) return false;
  Formats formats(workbook);

  const SheetCell leftAligned;
  lxw_format* columnFormat = formats.For(leftAligned);
  if (!columnFormat) return false;
  for (std::size_t column = 0; column < sheet.columnWidths.size(); ++column) {
    const auto index = static_cast<lxw_col_t>(column);
    if (worksheet_set_column(worksheet, index, index, sheet.columnWidths[column], columnFormat) != LXW_NO_ERROR)
      return false;
  }

  // A merged range takes the look of its first cell; the cells written
  // afterwards keep their own.
  for (const SheetRange& range : sheet.merges) {
    const SheetCell* first = CellAt(sheet, range.firstRow, range.firstColumn);
    lxw_format* format = formats.For(first ? *first : leftAligned);
    if (!format || worksheet_merge_range(worksheet, range.firstRow, range.firstColumn, range.lastRow, range.lastColumn,
                                         "", format) != LXW_NO_ERROR)
      return false;
  }

  for (const SheetCell& cell : sheet.cells) {
    lxw_format* format = formats.For(cell);
    if (!format) return false;
    lxw_error error = LXW_NO_ERROR;
    if (cell.number)
      error = worksheet_write_number(worksheet, cell.row, cell.column, *cell.number, format);
    else if (cell.text.empty())
      error = worksheet_write_blank(worksheet, cell.row, cell.column, format);
    else
      error = worksheet_write_string(worksheet, cell.row, cell.column, cell.text.c_str(), format);
    if (error != LXW_NO_ERROR) return false;
  }
  return true;
}

}  // namespace

bool WriteXlsx(const SheetLayout& sheet, const std::string& path) {
  lxw_workbook* workbook = workbook_new(path.c_str());
  if (!workbook) return false;
  bool written = WriteSheet(workbook, sheet);
  if (written) {
    written = workbook_close(workbook) == LXW_NO_ERROR;
  } else {
    lxw_workbook_free(workbook);
  }
  if (!written) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
  return written;
}

std::string TemporaryExportPath() {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  if (error) return "";
  std::string path = (folder / "brindlex-export-XXXXXX.xlsx").string();
  const int fd = ::mkstemps(path.data(), 5);
  if (fd < 0) return "";
  ::close(fd);
  return path;
}

}  // namespace brindlex
