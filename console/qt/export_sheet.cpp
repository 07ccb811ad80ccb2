#include "console/qt/export_sheet.h"

#include <QDir>
#include <QLocale>
#include <QMessageBox>

#include "console/qt/desktop_open.h"
#include "console/xlsx_export.h"
#include "core/report_exception.h"
#include "core/strings.h"

namespace brindlex {

std::string SystemDecimalSeparator() { return QLocale::system().decimalPoint().toStdString(); }

void ExportSheet(QWidget* parent, const SheetLayout& sheet) {
  const std::string path = TemporaryExportPath();
  if (path.empty() || !WriteXlsx(sheet, path)) {
    const std::string where = path.empty() ? QDir::tempPath().toStdString() : path;
    QMessageBox::warning(parent, kApplicationTitle, QString::fromStdString(Str(1703) + "\n" + StrWith(1403, where)));
    return;
  }
  OpenFileOrItsFolder(parent, path, 1400);
}

}  // namespace brindlex
