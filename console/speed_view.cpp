#include "console/speed_view.h"

#include <algorithm>

#include "core/strings.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

constexpr std::int32_t kNoSpeed = -1;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

std::string SpeedCaption(SpeedSubject subject, const std::string& name) {
  switch (subject) {
    case SpeedSubject::kUser:
      return Str(850) + " " + Str(854) + " " + Quoted(name);
    case SpeedSubject::kGroup:
      return Str(850) + " " + Str(855) + " " + Quoted(name);
    case SpeedSubject::kProgram:
      break;
  }
  return Str(850) + " " + Str(856);
}

SpeedFigures MeasureSpeed(const SpeedSlots& slots) {
  SpeedFigures figures;
  std::int64_t sum = 0;
  std::size_t oldest = 0;  // the oldest whole second with data; 0 for none
  for (std::size_t slot = 1; slot < slots.size(); ++slot) {
    if (slots[slot] == kNoSpeed) continue;
    figures.maximum = std::max<std::int64_t>(figures.maximum, slots[slot]);
    sum += slots[slot];
    oldest = slot;
  }
  figures.hasData = oldest > 0;
  // A second without a transfer moved nothing: it counts as 0 in the average
  // from the first second with data on, so a burst fades as the line idles
  // instead of standing for the whole five minutes.
  figures.average = figures.hasData ? sum / static_cast<std::int64_t>(oldest) : 0;
  return figures;
}

std::string KbPerSecondText(std::int64_t bytesPerSecond) {
  return FormatNumberText(static_cast<double>(bytesPerSecond) / 1024.0) + Str(32);
}

std::int64_t SpeedScaleFor(const SpeedSlots& slots) {
  auto at = [&](std::size_t slot) -> std::int64_t { return slots[slot] == kNoSpeed ? 0 : slots[slot]; };
  std::int64_t held = 0, highest = 0;
  for (std::size_t slot = 1; slot < slots.size(); ++slot) {
    highest = std::max(highest, at(slot));
    if (slot + 1 < slots.size()) held = std::max(held, std::min(at(slot), at(slot + 1)));
  }
  const std::int64_t level = held > 0 ? held : highest;
  // 1, 2, 5, 10, 20, 50 ... kilobytes per second: fifths of these read as
  // round numbers on the axis.
  std::int64_t decade = kSpeedScaleStart;
  for (;;) {
    for (std::int64_t factor : {1, 2, 5})
      if (decade * factor >= level) return decade * factor;
    decade *= 10;
  }
}

std::vector<int> SpeedBarHeights(const SpeedSlots& slots, int graphHeight, std::int64_t scale) {
  std::vector<int> heights;
  heights.reserve(slots.size());
  for (std::int32_t value : slots) {
    if (value <= 0) {
      heights.push_back(0);
      continue;
    }
    const std::int64_t height = std::min<std::int64_t>(graphHeight, static_cast<std::int64_t>(value) * graphHeight / scale);
    heights.push_back(std::max(1, static_cast<int>(height)));
  }
  return heights;
}

std::string SpeedScaleLabel(std::int64_t scale, int fifth) {
  return FormatNumberText(static_cast<double>(scale) * fifth / 5.0 / 1024.0);
}

void SpeedWindow::Update(SpeedSlots slots) {
  slots_ = std::move(slots);
  figures_ = MeasureSpeed(slots_);
  scale_ = SpeedScaleFor(slots_);
}

SpeedStatusTexts SpeedWindow::StatusTexts() const {
  auto field = [&](int caption, bool shown, std::int64_t value) {
    return Str(caption) + ":" + (shown ? KbPerSecondText(value) : "-");
  };
  const bool current = slots_.size() > 1 && slots_[1] != kNoSpeed;
  return {field(850, current, current ? slots_[1] : 0), field(851, figures_.hasData, figures_.average),
          field(852, figures_.hasData, figures_.maximum)};
}

}  // namespace brindlex
