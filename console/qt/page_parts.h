// Pieces the group and user pages of the configuration share: a button with
// a caption from the string table, the restrictions button, the schedule tab
// and the filter tab.
#pragma once

#include <QBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <functional>

#include "console/account_pages.h"
#include "console/qt/account_hooks.h"
#include "console/qt/filter_page.h"
#include "console/qt/schedule_grid.h"

namespace brindlex {

QPushButton* AddButton(QWidget* parent, QBoxLayout* layout, int caption, std::function<void()> action);

// The schedule tab: the grid over the page's draft, and "select all" and
// "clear all"; `changed` runs after every edit.
ScheduleGrid* AddScheduleTab(QTabWidget* tabs, AccountPageEditor& accounts, std::function<void()> changed);

// "Дополнительно": the restrictions dialog over a copy of the draft's rules,
// which the draft takes when the dialog is accepted; `taken` runs then.
QPushButton* AddRestrictionsButton(QWidget* page, QBoxLayout* layout, const AccountPageHooks& hooks, AccessRules& rules,
                                   bool isGroup, std::function<void()> taken);

// The filter tab: the deny and allow lists of the draft's filter texts,
// which take every change at once; `edited` runs after each.
FilterPage* AddFilterTab(QTabWidget* tabs, std::string& denyText, std::string& allowText,
                         std::function<void(int bits)> edited);

}  // namespace brindlex
