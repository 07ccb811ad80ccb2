// Puts a console window that is about to be shown wholly on the screen of
// the window it was opened from (see console/window_geometry.h). Main
// thread only.
#pragma once

class QWidget;

namespace brindlex {

// Sizes and moves `window` (not yet shown) to fit the available part of the
// screen of `anchor` (or the primary screen), over `anchor`, `cascade`
// steps down and right.
void PlaceOnScreen(QWidget* window, const QWidget* anchor, int cascade);

}  // namespace brindlex
