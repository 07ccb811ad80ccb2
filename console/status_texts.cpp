#include "console/status_texts.h"

#include "console/speed_view.h"
#include "core/strings.h"

namespace brindlex {

std::string StatusBarText(const StatusFigures& figures, const SpeedSlots& programSpeed) {
  std::string text = std::to_string(figures.userSessions) + Str(29) + std::to_string(figures.connections) + Str(30);
  const SpeedFigures speed = MeasureSpeed(programSpeed);
  if (speed.hasData) text += Str(31) + KbPerSecondText(speed.average);
  return text;
}

}  // namespace brindlex
