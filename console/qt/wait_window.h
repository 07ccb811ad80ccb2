// TPlsWaitForm: the file being read and two progress bars (the file, the
// whole work) while counters are rebuilt from the logs.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <cstdint>
#include <string>

namespace brindlex {

class TPlsWaitForm final : public QDialog {
  Q_OBJECT

 public:
  explicit TPlsWaitForm(QWidget* parent);
  // Repaints at once without running the event loop: the rebuild may hold
  // the accounts lock, and a worker's call served now would wait for it.
  void Show(const std::string& file, std::int64_t fileDone, std::int64_t fileSize, std::int64_t allDone,
            std::int64_t allSize);

 private:
  QLabel* file_ = nullptr;
  QProgressBar* fileBar_ = nullptr;
  QProgressBar* allBar_ = nullptr;
};

}  // namespace brindlex
