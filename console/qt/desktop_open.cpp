#include "console/qt/desktop_open.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>

#include "core/report_exception.h"
#include "core/strings.h"

namespace brindlex {

namespace {

DesktopOpener& Opener() {
  static DesktopOpener opener;
  return opener;
}

}  // namespace

void SetDesktopOpener(DesktopOpener opener) { Opener() = std::move(opener); }

bool OpenOnDesktop(const QUrl& url) { return Opener() ? Opener()(url) : QDesktopServices::openUrl(url); }

bool OpenFileOrItsFolder(QWidget* parent, const std::string& path, int unopenedText) {
  const QString file = QString::fromStdString(path);
  if (OpenOnDesktop(QUrl::fromLocalFile(file))) return true;
  // The folder is opened before the box, so that both are there together.
  const bool folderShown = OpenOnDesktop(QUrl::fromLocalFile(QFileInfo(file).absolutePath()));
  const std::string text = StrWith(unopenedText, path) + "\n" + Str(folderShown ? 1401 : 1402);
  QMessageBox::warning(parent, kApplicationTitle, QString::fromStdString(text));
  return false;
}

}  // namespace brindlex
