// The four traffic-unit radio buttons that the users page and the statistics
// windows share ("Кб (Мб)" first and chosen).
#pragma once

#include <QBoxLayout>
#include <QButtonGroup>
#include <functional>

#include "core/display_forms.h"

namespace brindlex {

QButtonGroup* AddUnitButtons(QWidget* parent, QBoxLayout* row, std::function<void(TrafficUnit)> chosen);

}  // namespace brindlex
