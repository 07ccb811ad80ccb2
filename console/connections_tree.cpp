#include "console/connections_tree.h"

#include "core/display_forms.h"
#include "core/strings.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

TreeLine ConnectionLine(const ConsoleConnection& connection, int depth) {
  return {connection.serviceName + ", " + std::to_string(connection.sent) + "/" + std::to_string(connection.received) +
              ", " + connection.url,
          depth, TreeLineKind::kConnection, connection.handle, false};
}

TreeLine SessionLine(const ConsoleUserSession& session) {
  return {session.userName + " (" + session.login + "), " + std::to_string(session.outgoing) + "/" +
              std::to_string(session.incoming) + ", time=" + FormatSeconds(session.timeSeconds) +
              ", idle=" + FormatSeconds(session.idleSeconds),
          1, TreeLineKind::kUserSession, session.handle, session.closeRequested};
}

}  // namespace

std::vector<TreeLine> TreeLines(const std::vector<ConsoleAddressSession>& tree) {
  std::vector<TreeLine> lines;
  for (const ConsoleAddressSession& address : tree) {
    lines.push_back({FormatIpv4(address.address) + ", idle=" + FormatSeconds(address.idle), 0, TreeLineKind::kAddress,
                     address.handle, false});
    for (const ConsoleUserSession& session : address.userSessions) {
      lines.push_back(SessionLine(session));
      for (const ConsoleConnection& connection : session.connections) lines.push_back(ConnectionLine(connection, 2));
    }
    for (const ConsoleConnection& connection : address.unattributed) lines.push_back(ConnectionLine(connection, 1));
  }
  return lines;
}

std::string NoActiveUsersText() { return Str(24); }

std::string TreeActionCaption(TreeLineKind kind) {
  switch (kind) {
    case TreeLineKind::kAddress:
      return Str(25);
    case TreeLineKind::kUserSession:
      return Str(26);
    case TreeLineKind::kConnection:
      break;
  }
  return Str(27);
}

bool ConnectionsTree::Refresh(ConsoleEngine& engine) {
  std::optional<std::vector<ConsoleAddressSession>> tree = engine.SessionTree();
  if (!tree) return false;
  lines_ = TreeLines(*tree);
  return true;
}

std::size_t ConnectionsTree::HiddenLines(int viewHeight) const {
  const std::size_t fitting = viewHeight > 0 ? static_cast<std::size_t>(viewHeight / kTreeLineHeight) : 0;
  return lines_.size() > fitting ? lines_.size() - fitting : 0;
}

bool ConnectionsTree::Click(int y, std::size_t firstLine) {
  if (y < 0) return false;
  const std::size_t line = firstLine + static_cast<std::size_t>(y / kTreeLineHeight);
  if (line >= lines_.size()) return false;
  selection_ = lines_[line];
  buttonShown_ = true;
  buttonSeconds_ = 0;
  return true;
}

void ConnectionsTree::Tick() {
  if (!buttonShown_) return;
  if (++buttonSeconds_ > kTreeButtonSeconds) buttonShown_ = false;
}

void ConnectionsTree::Press(ConsoleEngine& engine) {
  if (!buttonShown_ || !selection_) return;
  engine.CloseTreeLine(selection_->kind, selection_->handle);
  buttonShown_ = false;
  Refresh(engine);
}

}  // namespace brindlex
