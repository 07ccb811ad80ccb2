#include "console/window_geometry.h"

#include <algorithm>

namespace brindlex {

ScreenRect PlaceWindow(ScreenRect frame, const ScreenRect& available, const std::optional<ScreenRect>& anchor,
                       int cascade) {
  frame.width = std::clamp(frame.width, 0, std::max(0, available.width));
  frame.height = std::clamp(frame.height, 0, std::max(0, available.height));
  const ScreenRect& over = anchor ? *anchor : available;
  int x = over.x + (over.width - frame.width) / 2;
  int y = over.y + (over.height - frame.height) / 2;
  // The room left for steps once the window is centred; past it the
  // cascade starts again rather than piling windows against the edge.
  const int room = std::min(available.Right() - frame.width - x, available.Bottom() - frame.height - y);
  const int steps = room >= kCascadeStep ? room / kCascadeStep + 1 : 1;
  const int step = std::max(0, cascade) % steps;
  x += step * kCascadeStep;
  y += step * kCascadeStep;
  frame.x = std::clamp(x, available.x, available.Right() - frame.width);
  frame.y = std::clamp(y, available.y, available.Bottom() - frame.height);
  return frame;
}

}  // namespace brindlex
