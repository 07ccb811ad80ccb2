#include "console/qt/localise.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>
#include <QWidget>

#include "console/captions.h"

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

}  // namespace

void LocaliseCaptions(QWidget* window) {
  LocaliseOne(window);
  for (QWidget* child : window->findChildren<QWidget*>()) LocaliseOne(child);
}

}  // namespace brindlex
