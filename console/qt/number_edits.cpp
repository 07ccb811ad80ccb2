#include "console/qt/number_edits.h"

#include <QStackedWidget>
#include <QTabWidget>

#include "core/settings.h"
#include "core/value_codec.h"

namespace brindlex {

void RevealAndFocus(QWidget* widget) {
  for (QWidget* page = widget; page; page = page->parentWidget()) {
    QWidget* stack = page->parentWidget();
    if (!qobject_cast<QStackedWidget*>(stack)) continue;
    if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget())) tabs->setCurrentWidget(page);
  }
  widget->setFocus();
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
}

QLineEdit* NumberEdits::Add(QWidget* parent, const char* objectName, Get get, Set set, bool whole) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(objectName);
  edit->setFixedWidth(90);
  const size_t index = bound_.size();
  bound_.push_back({edit, std::move(get), std::move(set), whole});
  QObject::connect(edit, &QLineEdit::textEdited, edit, [this, index](const QString& typed) {
    std::string text = typed.toStdString();
    double value = 0;
    if (Read(bound_[index], text, value, nullptr)) bound_[index].set(value);
    edited_();
  });
  return edit;
}

bool NumberEdits::Read(const Bound& bound, std::string& text, double& value, ConfigBox* failure) {
  EditOutcome outcome;
  if (bound.whole) {
    std::int64_t whole = 0;
    outcome = CheckNumberField(text, whole);
    value = static_cast<double>(whole);
  } else {
    outcome = CheckRealField(text, value);
  }
  if (!outcome.ok && failure) *failure = {outcome.caption, outcome.message};
  return outcome.ok;
}

void NumberEdits::Fill() {
  for (const Bound& bound : bound_) bound.edit->setText(QString::fromStdString(FormatNumberText(bound.get())));
}

ConfigBox NumberEdits::Commit() {
  for (const Bound& bound : bound_) {
    std::string text = bound.edit->text().toStdString();
    double value = 0;
    ConfigBox failure;
    if (!Read(bound, text, value, &failure)) {
      RevealAndFocus(bound.edit);
      return failure;
    }
    bound.set(value);
  }
  return {};
}

}  // namespace brindlex
