#include "console/qt/window_place.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "console/window_geometry.h"

namespace brindlex {
namespace {

// Before a window is first shown the window manager has not told its
// decoration; a title bar and borders of about this size are assumed.
constexpr int kTitleAllowance = 32;
constexpr int kBorderAllowance = 8;

ScreenRect ToScreenRect(const QRect& rect) { return {rect.x(), rect.y(), rect.width(), rect.height()}; }

}  // namespace

void PlaceOnScreen(QWidget* window, const QWidget* anchor, int cascade) {
  const bool anchored = anchor != nullptr && anchor->isVisible();
  QScreen* screen = anchored ? anchor->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect frame = window->frameGeometry();
  const QRect inner = window->geometry();
  int extraWidth = frame.width() - inner.width();
  int extraHeight = frame.height() - inner.height();
  if (!window->testAttribute(Qt::WA_WState_Created) || (extraWidth == 0 && extraHeight == 0)) {
    extraWidth = 2 * kBorderAllowance;
    extraHeight = kTitleAllowance + kBorderAllowance;
  }
  const QSize size = window->size().expandedTo(window->minimumSizeHint());
  std::optional<ScreenRect> over;
  if (anchored) over = ToScreenRect(anchor->frameGeometry());
  const ScreenRect placed = PlaceWindow({0, 0, size.width() + extraWidth, size.height() + extraHeight},
                                        ToScreenRect(screen->availableGeometry()), over, cascade);
  window->resize(placed.width - extraWidth, placed.height - extraHeight);
  // move() places the frame's corner, so the frame is what was placed.
  window->move(placed.x, placed.y);
}

}  // namespace brindlex
