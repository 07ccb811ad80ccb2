#include "console/qt/localise.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QTabBar>
#include <QTabWidget>
#include <QTranslator>
#include <QWidget>

#include "console/captions.h"
#include "core/strings.h"

namespace brindlex {
namespace {

QString Localised(const QString& caption) {
  if (!caption.startsWith('#')) return caption;
  return QString::fromStdString(LocalisedCaption(caption.toStdString()));
}

void LocaliseOne(QWidget* widget) {
  widget->setWindowTitle(Localised(widget->windowTitle()));
  if (auto* label = qobject_cast<QLabel*>(widget)) label->setText(Localised(label->text()));
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) button->setText(Localised(button->text()));
  if (auto* box = qobject_cast<QGroupBox*>(widget)) box->setTitle(Localised(box->title()));
  if (auto* tabs = qobject_cast<QTabWidget*>(widget))
    for (int i = 0; i < tabs->count(); ++i) tabs->setTabText(i, Localised(tabs->tabText(i)));
  if (auto* tabs = qobject_cast<QTabBar*>(widget))
    for (int i = 0; i < tabs->count(); ++i) tabs->setTabText(i, Localised(tabs->tabText(i)));
  if (auto* combo = qobject_cast<QComboBox*>(widget))
    for (int i = 0; i < combo->count(); ++i) combo->setItemText(i, Localised(combo->itemText(i)));
  for (QAction* action : widget->actions()) action->setText(Localised(action->text()));
}

// The standard buttons' texts, asked of the translators under the context
// of the platform theme (message boxes, button boxes) and of the button box
// itself; answered from the string table so that the console's own dialogs
// and the toolkit's boxes use the same words.
class StringTableTranslator : public QTranslator {
 public:
  using QTranslator::QTranslator;

  bool isEmpty() const override { return false; }

  QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                    int n = -1) const override {
    (void)disambiguation;
    (void)n;
    if (context == nullptr || sourceText == nullptr) return {};
    const QLatin1StringView where(context);
    QString english = QString::fromLatin1(sourceText);
    english.remove('&');
    int id = 0;
    if (where == QLatin1StringView("QPlatformTheme") || where == QLatin1StringView("QDialogButtonBox"))
      id = ButtonStringId(english);
    else if (where == QLatin1StringView("QAbstractFileIconProvider") || where == QLatin1StringView("QFileSystemModel"))
      id = FileKindStringId(english);
    // The table's places are "%s"; the toolkit fills "%1".
    return id == 0 ? QString() : QString::fromStdString(Str(id)).replace("%s", "%1");
  }

 private:
  // The kind column of the file dialog's list.
  static int FileKindStringId(const QString& english) {
    static constexpr struct {
      const char* english;
      int id;
    } kKinds[] = {{"Folder", 1446},  {"Drive", 1447},    {"File", 1448},
                  {"%1 File", 1449}, {"Shortcut", 1450}, {"Alias", 1450}};
    for (const auto& kind : kKinds)
      if (english == QLatin1StringView(kind.english)) return kind.id;
    return 0;
  }

  static int ButtonStringId(const QString& english) {
    static constexpr struct {
      const char* english;
      int id;
    } kButtons[] = {{"OK", 202},    {"Cancel", 203}, {"Yes", 1430},  {"No", 1431},         {"Close", 104},
                    {"Apply", 100}, {"Open", 103},   {"Save", 1432}, {"Yes to All", 1433}, {"No to All", 1434}};
    for (const auto& button : kButtons)
      if (english == QLatin1StringView(button.english)) return button.id;
    return 0;
  }
};

}  // namespace

bool InstallRussianTranslations(QCoreApplication* application) {
  // A second call would stack a second pair of translators for nothing.
  if (application->property("brindlexTranslations").isValid())
    return application->property("brindlexTranslations").toBool();
  auto* toolkit = new QTranslator(application);
  const bool found = toolkit->load(QLocale(QLocale::Russian, QLocale::Russia), "qtbase", "_",
                                   QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  if (found) QCoreApplication::installTranslator(toolkit);
  // Installed last, asked first.
  QCoreApplication::installTranslator(new StringTableTranslator(application));
  application->setProperty("brindlexTranslations", found);
  return found;
}

void LocaliseCaptions(QWidget* window) {
  LocaliseOne(window);
  for (QWidget* child : window->findChildren<QWidget*>()) LocaliseOne(child);
}

}  // namespace brindlex
