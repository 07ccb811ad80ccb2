#include "console/users_export.h"

namespace brindlex {
namespace {

UsersExportRowKind ExportKind(UsersRowKind kind) {
  switch (kind) {
    case UsersRowKind::kGroupHeader:
      return UsersExportRowKind::kGroupHeader;
    case UsersRowKind::kUser:
      return UsersExportRowKind::kUser;
    case UsersRowKind::kGroupTotal:
      return UsersExportRowKind::kGroupTotal;
    case UsersRowKind::kGrandTotal:
      break;
  }
  return UsersExportRowKind::kGrandTotal;
}

}  // namespace

UsersExport UsersExportOf(const UsersGrid& grid, const std::optional<DateSpan>& dates) {
  // The sheet's columns A-F are the grid's columns without the addresses.
  constexpr int kExported[] = {kUsersName, kUsersTime, kUsersOutgoing, kUsersIncoming, kUsersMoney, kUsersRating};
  UsersExport table;
  table.view = static_cast<int>(grid.Options().view);
  if (dates) {
    table.start = dates->first;
    table.end = dates->last;
  }
  for (std::size_t row = 0; row < grid.Rows().size(); ++row) {
    UsersExportRow exported;
    exported.kind = ExportKind(grid.Rows()[row].kind);
    for (int column = 0; column < 6; ++column) exported.texts[column] = grid.Cell(row, kExported[column]);
    table.rows.push_back(std::move(exported));
  }
  return table;
}

}  // namespace brindlex
