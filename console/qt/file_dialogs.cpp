#include "console/qt/file_dialogs.h"

#include <QFileDialog>
#include <QStringList>

namespace brindlex {
namespace {

// "Description|*.ext|..." pairs in the form Qt reads: "Description (*.ext);;...".
QString QtFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2)
    filters << (parts[i].contains('(') ? parts[i] : parts[i] + " (" + parts[i + 1] + ")");
  return filters.join(";;");
}

}  // namespace

std::string ChooseFile(QWidget* parent, const CopyFileDialog& dialog, bool forSaving) {
  const QString start = QString::fromStdString(dialog.folder + "/" + dialog.defaultName);
  const QString filter = QtFilter(dialog.filter);
  const QString path = forSaving ? QFileDialog::getSaveFileName(parent, QString(), start, filter)
                                 : QFileDialog::getOpenFileName(parent, QString(), start, filter);
  return path.toStdString();
}

}  // namespace brindlex
