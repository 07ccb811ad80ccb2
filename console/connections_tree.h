// The connections page without its painter: the lines of the session tree,
// the selection a click makes, and the action button that closes what the
// selected line stands for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console/console_engine.h"

namespace brindlex {

inline constexpr int kTreeLineHeight = 16;  // pixels

struct TreeLine {
  std::string text;
  int depth = 0;  // 0 an address, 1 a user session or an unattributed connection, 2 a session's connection
  TreeLineKind kind = TreeLineKind::kAddress;
  std::uint64_t handle = 0;
  bool grey = false;  // a user session that is being closed
};

// Every address, under it its user sessions each followed by its connections,
// then its unattributed connections.
std::vector<TreeLine> TreeLines(const std::vector<ConsoleAddressSession>& tree);
// What the page shows when there is no line at all.
std::string NoActiveUsersText();
// The action button's caption for a kind of line.
std::string TreeActionCaption(TreeLineKind kind);

// The action button: shown beside the selected line, it hides itself after
// more than kTreeButtonSeconds whole seconds without use. Seconds come as
// ticks from the page's once-a-second timer.
inline constexpr int kTreeButtonSeconds = 5;

class ConnectionsTree {
 public:
  // Takes the engine's tree; when the accounts lock was busy the lines stay
  // as they were (false).
  bool Refresh(ConsoleEngine& engine);
  const std::vector<TreeLine>& Lines() const { return lines_; }

  // How many lines lie beyond a view of this height (the scroll range).
  std::size_t HiddenLines(int viewHeight) const;
  // A click at y pixels (from the top of the view scrolled by `firstLine`
  // lines) selects the line there and shows the button; false on no line.
  bool Click(int y, std::size_t firstLine);

  // The selected line, as it was when clicked.
  const std::optional<TreeLine>& Selection() const { return selection_; }
  bool ButtonShown() const { return buttonShown_; }
  int ButtonSeconds() const { return buttonSeconds_; }
  // One whole second without use.
  void Tick();
  // The button was clicked: asks the engine to close the selected line's
  // record, hides the button and takes the tree again.
  void Press(ConsoleEngine& engine);

 private:
  std::vector<TreeLine> lines_;
  std::optional<TreeLine> selection_;
  bool buttonShown_ = false;
  int buttonSeconds_ = 0;
};

}  // namespace brindlex
