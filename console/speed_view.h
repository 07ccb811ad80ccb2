// The speed windows without their graph: the caption, the figures over the
// last five minutes, the vertical scale, the bar heights and the three
// status fields. Slot 0 of a history is the second being filled and is left
// out of the figures; slot 1 is the last whole second.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/console_engine.h"

namespace brindlex {

// "Speed of user "name"", "Speed of group "name"", "Speed total".
std::string SpeedCaption(SpeedSubject subject, const std::string& name);

// Over the slots 1-299: the maximum of those that hold data, and the
// (integer) average per second from the oldest slot with data up to slot 1,
// idle seconds in between counting as 0.
struct SpeedFigures {
  bool hasData = false;
  std::int64_t maximum = 0;
  std::int64_t average = 0;
};
SpeedFigures MeasureSpeed(const SpeedSlots& slots);

// Bytes per second as kilobytes per second with at most two decimals,
// followed by the unit.
std::string KbPerSecondText(std::int64_t bytesPerSecond);

// The graph's top in bytes per second: 1024 for small speeds, otherwise a
// multiple of 5120 that covers the maximum, stepping down by 5120 as the
// maximum falls.
inline constexpr std::int64_t kSpeedScaleStart = 1024;
inline constexpr std::int64_t kSpeedScaleStep = 5120;
std::int64_t NextSpeedScale(std::int64_t scale, const SpeedFigures& figures);

// Each slot's bar in pixels for a graph of this height; 0 draws nothing.
std::vector<int> SpeedBarHeights(const SpeedSlots& slots, int graphHeight, std::int64_t scale);
// The label of the fifth `fifth` (0..5) of the scale, in kilobytes per second.
std::string SpeedScaleLabel(std::int64_t scale, int fifth);

struct SpeedStatusTexts {
  std::string current;
  std::string average;
  std::string maximum;
};

// One speed window's state, brought up to date once a second.
class SpeedWindow {
 public:
  void Update(SpeedSlots slots);
  const SpeedSlots& Slots() const { return slots_; }
  const SpeedFigures& Figures() const { return figures_; }
  std::int64_t Scale() const { return scale_; }
  SpeedStatusTexts StatusTexts() const;

 private:
  SpeedSlots slots_;
  SpeedFigures figures_;
  std::int64_t scale_ = kSpeedScaleStart;
};

}  // namespace brindlex
