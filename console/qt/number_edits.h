// The number edits of the group and user pages: each bound to a field of the
// page's draft. A typed text that reads as a number goes into the draft at
// once (so that the highlights follow it); at apply every edit is checked,
// and the first that does not read gives the conversion box and the focus.
#pragma once

#include <QLineEdit>
#include <functional>
#include <string>
#include <vector>

#include "console/console_engine.h"

namespace brindlex {

// Shows the tab that holds the widget (through every tab widget above it)
// and puts the focus there.
void RevealAndFocus(QWidget* widget);

class NumberEdits {
 public:
  using Get = std::function<double()>;
  using Set = std::function<void(double)>;
  // `edited` runs after each typed change.
  explicit NumberEdits(std::function<void()> edited) : edited_(std::move(edited)) {}
  // `whole`: a whole number (seconds), otherwise a number with decimals.
  QLineEdit* Add(QWidget* parent, const char* objectName, Get get, Set set, bool whole = false);
  // Shows the draft's values.
  void Fill();
  // Stores every edit into the draft; the box of the first that does not
  // read, with that edit focused, or an empty box.
  ConfigBox Commit();

 private:
  struct Bound {
    QLineEdit* edit;
    Get get;
    Set set;
    bool whole;
  };
  static bool Read(const Bound& bound, std::string& text, double& value, ConfigBox* failure);

  std::function<void()> edited_;
  std::vector<Bound> bound_;
};

}  // namespace brindlex
