// Page 4 of the configuration: the global filter's "Использовать фильтр",
// its deny and allow lists behind two tabs, and the list's commands. It shows
// a FilterPageEditor, which the configuration page loads and applies.
#pragma once

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTableWidget>
#include <QWidget>
#include <functional>

#include "console/filter_page_editor.h"

namespace brindlex {

class FilterPage final : public QWidget {
  Q_OBJECT

 public:
  // `mark` sets bits of the configuration page's change mask.
  FilterPage(ConsoleEngine& engine, std::function<void(int bits)> mark, QWidget* parent);
  // The filter tab of a group or user page: the draft's lists, without the
  // global filter's on/off.
  FilterPage(FilterListSource source, std::function<void(int bits)> mark, QWidget* parent);
  FilterPageEditor& Editor() { return editor_; }
  QTableWidget* Table() { return table_; }
  // The dialog of "Добавить" and "Изменить"; it runs modal unless a test
  // takes it from here first.
  void SetDialogRunner(std::function<void(QDialog&)> run) { run_ = std::move(run); }

 private:
  void Show();
  void AddOrEdit(bool add);
  void Import();

  FilterPageEditor editor_;
  std::function<void(QDialog&)> run_;
  QCheckBox* enabled_ = nullptr;
  QTabBar* tabs_ = nullptr;
  QTableWidget* table_ = nullptr;
  QRadioButton* append_ = nullptr;
};

}  // namespace brindlex
