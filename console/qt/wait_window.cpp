#include "console/qt/wait_window.h"

#include <QVBoxLayout>

namespace brindlex {
namespace {

int Permille(std::int64_t done, std::int64_t size) {
  if (size <= 0) return 0;
  return static_cast<int>(std::min<std::int64_t>(1000, done * 1000 / size));
}

}  // namespace

TPlsWaitForm::TPlsWaitForm(QWidget* parent) : QDialog(parent) {
  setObjectName("TPlsWaitForm");
  setWindowModality(Qt::ApplicationModal);
  file_ = new QLabel(this);
  fileBar_ = new QProgressBar(this);
  allBar_ = new QProgressBar(this);
  for (QProgressBar* bar : {fileBar_, allBar_}) {
    bar->setRange(0, 1000);
    bar->setTextVisible(false);
  }
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(file_);
  layout->addWidget(fileBar_);
  layout->addWidget(allBar_);
  resize(420, 110);
}

void TPlsWaitForm::Show(const std::string& file, std::int64_t fileDone, std::int64_t fileSize, std::int64_t allDone,
                        std::int64_t allSize) {
  if (!isVisible()) show();
  file_->setText(QString::fromStdString(file));
  fileBar_->setValue(Permille(fileDone, fileSize));
  allBar_->setValue(Permille(allDone, allSize));
  repaint();
}

}  // namespace brindlex
