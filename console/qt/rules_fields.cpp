#include "console/qt/rules_fields.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QVBoxLayout>

#include "console/account_pages.h"
#include "console/editor_pages.h"
#include "core/strings.h"

namespace brindlex {
namespace {

QString Q(int id) { return QString::fromStdString(Str(id)); }

}  // namespace

RulesFields::RulesFields(QWidget* parent, std::function<void(int)> edited)
    : edited_(std::move(edited)), numbers_([this] {
        edited_(kChangedAny);
        Highlight();
      }) {
  auto* reports = new QGroupBox(Q(1969), parent);
  auto* reportsLayout = new QVBoxLayout(reports);
  auto* directions = new QGroupBox(Q(1970), parent);
  auto* directionsLayout = new QVBoxLayout(directions);
  auto addFlag = [&](QVBoxLayout* layout, const char* name, int caption, bool AccessRules::*field, int bits) {
    auto* box = new QCheckBox(Q(caption), layout->parentWidget());
    box->setObjectName(name);
    layout->addWidget(box);
    flags_.emplace_back(box, field);
    QObject::connect(box, &QCheckBox::clicked, box, [this, field, bits](bool checked) {
      if (!rules_) return;
      rules_->*field = checked;
      edited_(bits);
    });
  };
  addFlag(reportsLayout, "CbDailyReport", 1956, &AccessRules::dailyReport, kChangedAny);
  addFlag(reportsLayout, "CbMonthlyReport", 1957, &AccessRules::monthlyReport, kChangedAny);
  // The counted directions change what the users view adds up.
  addFlag(directionsLayout, "CbCountOutgoing", 1958, &AccessRules::countOutgoing, kChangedAny | kChangedUsersView);
  addFlag(directionsLayout, "CbCountIncoming", 1959, &AccessRules::countIncoming, kChangedAny | kChangedUsersView);

  auto* limits = new QGroupBox(Q(1971), parent);
  auto* limitsLayout = new QFormLayout(limits);
  static constexpr std::pair<const char*, double AccessRules::*> kLimits[] = {
      {"EdMonthMinutes", &AccessRules::monthMinutes}, {"EdMonthMb", &AccessRules::monthMb},
      {"EdDayMinutes", &AccessRules::dayMinutes},     {"EdDayMb", &AccessRules::dayMb},
      {"EdSpeedNormal", &AccessRules::speedNormal},   {"EdSpeedExceeded", &AccessRules::speedExceeded},
  };
  static constexpr int kLimitCaptions[] = {1960, 1961, 1962, 1963, 1964, 1965};
  for (size_t i = 0; i < limitEdits_.size(); ++i) {
    const auto field = kLimits[i].second;
    limitEdits_[i] = numbers_.Add(
        limits, kLimits[i].first, [this, field] { return rules_ ? rules_->*field : 0.0; },
        [this, field](double value) {
          if (rules_) rules_->*field = value;
        });
    limitsLayout->addRow(Q(kLimitCaptions[i]), limitEdits_[i]);
  }

  auto* services = new QGroupBox(Q(1966), parent);
  auto* servicesLayout = new QGridLayout(services);
  static constexpr int kServiceCaptions[kServiceColumns] = {1145, 1146, 1967, 1968, 1148, 1150};
  for (int column = 0; column < kServiceColumns; ++column) {
    auto* box = new QCheckBox(Q(kServiceCaptions[column]), services);
    box->setObjectName(QString("CbAllowed%1").arg(column));
    servicesLayout->addWidget(box, column / 2, column % 2);
    allowed_[static_cast<size_t>(column)] = box;
    // The record keeps the refusal; the page shows what is allowed.
    QObject::connect(box, &QCheckBox::clicked, box, [this, column](bool checked) {
      if (!rules_) return;
      rules_->protocolDenied[static_cast<size_t>(column)] = !checked;
      edited_(kChangedAny);
    });
  }
  reports_ = reports;
  directions_ = directions;
  limits_ = limits;
  services_ = services;
}

void RulesFields::Bind(AccessRules* rules, const AccessRules* group) {
  rules_ = rules;
  group_ = group;
}

void RulesFields::Fill() {
  if (!rules_) return;
  for (auto [box, field] : flags_) box->setChecked(rules_->*field);
  for (size_t column = 0; column < allowed_.size(); ++column)
    allowed_[column]->setChecked(!rules_->protocolDenied[column]);
  numbers_.Fill();
  Highlight();
}

void RulesFields::Highlight() {
  const std::array<bool, 6> differs =
      rules_ && group_ ? LimitsDifferingFromGroup(*rules_, *group_) : std::array<bool, 6>{};
  for (size_t i = 0; i < limitEdits_.size(); ++i) {
    QPalette palette = limitEdits_[i]->parentWidget()->palette();
    if (differs[i]) palette.setColor(QPalette::Base, QColor(0xff, 0xf0, 0xa0));
    limitEdits_[i]->setPalette(palette);
    limitEdits_[i]->setProperty("differsFromGroup", differs[i]);
  }
}

}  // namespace brindlex
