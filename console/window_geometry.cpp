#include "console/window_geometry.h"

#include <algorithm>

namespace brindlex {

ScreenRect PlaceWindow(ScreenRect frame, const ScreenRect& available, const std::optional<ScreenRect>& anchor,
                       int cascade) {
  frame.width = std::clamp(frame.width, 0, std::max(0, available.width));
  frame.height = std::clamp(frame.height, 0, std::max(0, available.height));
  const ScreenRect& over = anchor ? *anchor : available;
  const int baseX = std::clamp(over.x + (over.width - frame.width) / 2, available.x, available.Right() - frame.width);
  const int baseY =
      std::clamp(over.y + (over.height - frame.height) / 2, available.y, available.Bottom() - frame.height);
  // Further windows step down and right, or up and left when the first is
  // already against the lower right edges; past the room there is, the
  // cascade starts again rather than piling windows against the edge.
  const int roomDown = std::min(available.Right() - frame.width - baseX, available.Bottom() - frame.height - baseY);
  const int roomUp = std::min(baseX - available.x, baseY - available.y);
  const int direction = roomDown >= roomUp ? 1 : -1;
  const int steps = std::max(roomDown, roomUp) / kCascadeStep + 1;
  const int offset = direction * (std::max(0, cascade) % steps) * kCascadeStep;
  frame.x = baseX + offset;
  frame.y = baseY + offset;
  return frame;
}

}  // namespace brindlex
