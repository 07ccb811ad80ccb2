#include "console/qt/file_dialogs.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QSplitter>
#include <QStringList>
#include <QTreeView>

#include "core/strings.h"

namespace brindlex {
namespace {

// "Description|*.ext|..." pairs in the form Qt reads: "Description (*.ext);;...".
QString QtFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2)
    // A description that already names its pattern ("Рисунки формата *.bmp")
    // is not followed by it a second time.
    filters << (parts[i].contains('(') || parts[i].contains(parts[i + 1]) ? parts[i]
                                                                          : parts[i] + " (" + parts[i + 1] + ")");
  return filters.join(";;");
}

constexpr int kSaveCaption = 1432;
constexpr int kOpenCaption = 1948;
constexpr int kWidth = 780;
constexpr int kHeight = 460;
constexpr int kPlacesWidth = 150;

}  // namespace

std::string ChooseFile(QWidget* parent, const CopyFileDialog& dialog, bool forSaving) {
  QFileDialog files(parent, QString::fromStdString(Str(forSaving ? kSaveCaption : kOpenCaption)),
                    QString::fromStdString(dialog.folder), QtFilter(dialog.filter));
  files.setAcceptMode(forSaving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  files.setFileMode(forSaving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  files.selectFile(QString::fromStdString(dialog.defaultName));
  // The toolkit's own size cuts the folder names and the dates of the list.
  files.resize(files.sizeHint().expandedTo(QSize(kWidth, kHeight)));
  if (auto* list = files.findChild<QTreeView*>("treeView")) {
    QHeaderView* header = list->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
  }
  if (auto* split = files.findChild<QSplitter*>("splitter")) split->setSizes({kPlacesWidth, kWidth - kPlacesWidth});
  if (files.exec() != QDialog::Accepted || files.selectedFiles().isEmpty()) return {};
  return files.selectedFiles().front().toStdString();
}

}  // namespace brindlex
