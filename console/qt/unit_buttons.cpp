#include "console/qt/unit_buttons.h"

#include <QRadioButton>

#include "core/strings.h"

namespace brindlex {
namespace {

constexpr TrafficUnit kUnits[] = {TrafficUnit::KbAndMb, TrafficUnit::Bytes, TrafficUnit::Kb, TrafficUnit::Mb};
constexpr int kCaptions[] = {1807, 1808, 1809, 1810};

}  // namespace

QButtonGroup* AddUnitButtons(QWidget* parent, QBoxLayout* row, std::function<void(TrafficUnit)> chosen) {
  auto* group = new QButtonGroup(parent);
  for (int i = 0; i < 4; ++i) {
    auto* radio = new QRadioButton(QString::fromStdString(Str(kCaptions[i])), parent);
    group->addButton(radio, i);
    row->addWidget(radio);
  }
  group->button(0)->setChecked(true);
  QObject::connect(group, &QButtonGroup::idClicked, parent,
                   [chosen = std::move(chosen)](int id) { chosen(kUnits[id]); });
  return group;
}

}  // namespace brindlex
