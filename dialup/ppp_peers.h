// Dial-up links over pppd: the entries are the peer files of the pppd
// configuration, a dial runs "pppd call <entry>" in the foreground as a child
// of the gateway, and the link is up while the interface that pppd names in
// its link file is up and running. The link file (linkname <entry>) also
// shows a link that another process started, which can then be taken over.
// The password goes to pppd through a pipe (its passwordfd plugin), never on
// a command line that every user of the machine can read.
#pragma once

#include <string>
#include <vector>

#include "dialup/remote_access.h"

namespace brindlex {

struct PppPaths {
  std::string pppd = "/usr/sbin/pppd";
  std::string peers = "/etc/ppp/peers";
  std::string run = "/run";  // where pppd keeps ppp-<link>.pid
  std::string interfaces = "/sys/class/net";
  int dialSeconds = 90;  // a dial that brings no link up by then has failed
};

// Error codes of Dial besides kDeviceInUse: pppd's exit status plus
// kPppdExit, or one of these.
inline constexpr int kPppdExit = 700;
inline constexpr int kDialTimedOut = 790;
inline constexpr int kDialAbandoned = 791;
inline constexpr int kBadEntry = 792;
inline constexpr int kPppdNotStarted = 793;

class PppPeers final : public RemoteAccess {
 public:
  explicit PppPeers(PppPaths paths = {}) : paths_(std::move(paths)) {}
  bool Usable() override;
  std::string WhyUnusable() override;
  std::string EntriesPlace() const override { return paths_.peers; }
  std::vector<std::string> Entries() override;
  int Dial(const std::string& entry, const std::string& user, const std::string& password, LinkHandle& handle,
           const std::function<bool()>& stopping) override;
  bool Connected(LinkHandle handle) override;
  void HangUp(LinkHandle handle) override;
  std::string ErrorText(int code) override;
  std::vector<ActiveLink> ActiveLinks() override;

 private:
  PppPaths paths_;
};

// The pid and the interface of a pppd link file ("<pid>\n<interface>\n"); the
// interface is empty until the link has one, and only a plain name is taken.
struct PppLinkFile {
  long pid = 0;
  std::string interface;
};
bool ParsePppLinkFile(std::string_view text, PppLinkFile& link);

}  // namespace brindlex
