#include "console/qt/page_parts.h"

#include "core/strings.h"

namespace brindlex {

QPushButton* AddButton(QWidget* parent, QBoxLayout* layout, int caption, std::function<void()> action) {
  auto* button = new QPushButton(QString::fromStdString(Str(caption)), parent);
  QObject::connect(button, &QPushButton::clicked, parent, std::move(action));
  layout->addWidget(button);
  return button;
}

ScheduleGrid* AddScheduleTab(QTabWidget* tabs, AccountPageEditor& accounts, std::function<void()> changed) {
  auto* schedule = new QWidget(tabs);
  auto* grid = new ScheduleGrid(
      [&accounts, changed](int day, int hour, bool mark) {
        accounts.PaintHour(day, hour, mark);
        changed();
      },
      schedule);
  auto* buttons = new QHBoxLayout;
  for (bool mark : {true, false})
    AddButton(schedule, buttons, mark ? 142 : 143, [&accounts, grid, changed, mark] {
      accounts.MarkAllHours(mark);
      grid->update();
      changed();
    });
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(schedule);
  layout->addWidget(grid);
  layout->addLayout(buttons);
  layout->addStretch(1);
  tabs->addTab(schedule, QString::fromStdString(Str(1972)));
  return grid;
}

QPushButton* AddRestrictionsButton(QWidget* page, QBoxLayout* layout, const AccountPageHooks& hooks, AccessRules& rules,
                                   bool isGroup, std::function<void()> taken) {
  return AddButton(page, layout, 1135, [&hooks, &rules, isGroup, taken] {
    AccessRules edited = rules;
    if (!hooks.restrictions || !hooks.restrictions(edited, isGroup)) return;
    rules = edited;
    taken();
  });
}

FilterPage* AddFilterTab(QTabWidget* tabs, std::string& denyText, std::string& allowText,
                         std::function<void(int bits)> edited) {
  auto* filters = new FilterPage(DraftFilterSource(denyText, allowText), std::move(edited), tabs);
  tabs->addTab(filters, QString::fromStdString(Str(1144)));
  return filters;
}

}  // namespace brindlex
