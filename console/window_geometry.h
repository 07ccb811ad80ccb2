// Where a new console window goes: wholly on the screen, over the window it
// was opened from, each further one a step down and to the right. Pure
// arithmetic over rectangles; safe from any thread.
#pragma once

#include <optional>

namespace brindlex {

struct ScreenRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  int Right() const { return x + width; }
  int Bottom() const { return y + height; }
  bool Contains(const ScreenRect& inner) const {
    return inner.x >= x && inner.y >= y && inner.Right() <= Right() && inner.Bottom() <= Bottom();
  }
  bool operator==(const ScreenRect&) const = default;
};

// How far each further window is moved from the one before.
inline constexpr int kCascadeStep = 24;

// The frame (window with its decoration) of a window of `frame`'s size on
// the `available` part of a screen: no larger than that part, centred over
// `anchor` when there is one (else over the screen) and pushed inside the
// screen, then moved `cascade` steps down and right (up and left when there
// is more room that way). Cascading wraps round before a window would leave
// the screen.
ScreenRect PlaceWindow(ScreenRect frame, const ScreenRect& available, const std::optional<ScreenRect>& anchor,
                       int cascade);

}  // namespace brindlex
