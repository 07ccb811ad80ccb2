#include "console/status_texts.h"

#include "console/speed_view.h"
#include "core/strings.h"

namespace brindlex {

namespace {

constexpr int kOneUser = 1438;
constexpr int kOneConnection = 1441;

}  // namespace

std::string StatusBarText(const StatusFigures& figures, const SpeedSlots& programSpeed) {
  // The count and its noun agree ("1 пользователь", "3 пользователя",
  // "5 пользователей").
  std::string text = std::to_string(figures.userSessions) + StrForCount(figures.userSessions, kOneUser) +
                     std::to_string(figures.connections) + StrForCount(figures.connections, kOneConnection);
  const SpeedFigures speed = MeasureSpeed(programSpeed);
  if (speed.hasData) text += Str(31) + KbPerSecondText(speed.average);
  return text;
}

}  // namespace brindlex
