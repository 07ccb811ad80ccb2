// Pieces the group and user pages of the configuration share: a button with
// a caption from the string table, and the schedule tab.
#pragma once

#include <QBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <functional>

#include "console/account_pages.h"
#include "console/qt/schedule_grid.h"

namespace brindlex {

QPushButton* AddButton(QWidget* parent, QBoxLayout* layout, int caption, std::function<void()> action);

// The schedule tab: the grid over the page's draft, and "select all" and
// "clear all"; `changed` runs after every edit.
ScheduleGrid* AddScheduleTab(QTabWidget* tabs, AccountPageEditor& accounts, std::function<void()> changed);

}  // namespace brindlex
