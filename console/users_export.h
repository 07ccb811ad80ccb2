// The users grid as the export writes it: the rows in the grid's order with
// their kinds, the address column left out, and the view's dates.
#pragma once

#include "console/export_layout.h"
#include "console/users_panel.h"
#include "console/users_view.h"

namespace brindlex {

// `dates`: what the period views show; unused in the subscription views.
UsersExport UsersExportOf(const UsersGrid& grid, const std::optional<DateSpan>& dates);

}  // namespace brindlex
