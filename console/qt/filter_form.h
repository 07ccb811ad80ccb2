// TFormFilter: the filter dialog ("Фильтр"), a pattern ("Подстрока") and the
// part of the URL it looks at ("Часть URL"). The filter page opens it to add
// or edit an entry; "Добавить в фильтр" of the monitor and the statistics
// window opens it with the scopes to choose from.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QRadioButton>
#include <functional>
#include <optional>

#include "console/filter_dialog.h"

namespace brindlex {

class TFormFilter final : public QDialog {
  Q_OBJECT

 public:
  // `ok` takes the pattern and the kind; false keeps the dialog open with the
  // focus on the pattern.
  TFormFilter(const std::string& pattern, int kind, std::function<bool(const std::string&, int)> ok, QWidget* parent);
  // The addition: the scopes the logic offers, and its OK.
  TFormFilter(std::unique_ptr<FilterAdditionDialog> addition, QWidget* parent);
  ~TFormFilter() override;

  QLineEdit* Pattern() { return pattern_; }
  QComboBox* Kind() { return kind_; }
  QRadioButton* ScopeButton(FilterAdditionScope scope);

 public slots:
  void accept() override;

 private:
  void Build(bool withScopes);

  std::function<bool(const std::string&, int)> ok_;
  std::unique_ptr<FilterAdditionDialog> addition_;
  QLineEdit* pattern_ = nullptr;
  QComboBox* kind_ = nullptr;
  QRadioButton* global_ = nullptr;
  QRadioButton* group_ = nullptr;
  QRadioButton* user_ = nullptr;
};

// "Добавить в фильтр": opens the dialog for the request and waits for it.
void OpenFilterAddition(ConsoleEngine& engine, const FilterAdditionRequest& request, QWidget* parent);

}  // namespace brindlex
