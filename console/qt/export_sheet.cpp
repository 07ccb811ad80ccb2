#include "console/qt/export_sheet.h"

#include <QDesktopServices>
#include <QLocale>
#include <QMessageBox>
#include <QUrl>

#include "console/xlsx_export.h"
#include "core/report_exception.h"
#include "core/strings.h"

namespace brindlex {

std::string SystemDecimalSeparator() { return QLocale::system().decimalPoint().toStdString(); }

void ExportSheet(QWidget* parent, const SheetLayout& sheet) {
  const std::string path = TemporaryExportPath();
  if (path.empty() || !WriteXlsx(sheet, path) ||
      !QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path))))
    QMessageBox::warning(parent, kApplicationTitle, QString::fromStdString(Str(1703)));
}

}  // namespace brindlex
