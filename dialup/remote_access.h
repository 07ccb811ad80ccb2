// The machine's dial-up links as the dial-up manager uses them: the entries
// that can be dialled, dialling one and waiting for the outcome, whether a
// link is still up, hanging it up, and the links up now (to take over a link
// that is up already when the device answers "in use"). One backend drives
// pppd peers (ppp_peers.h); tests use one of their own.
//
// Only the dial-up thread calls a backend, except Entries, which the
// configuration editor may call from the main thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace brindlex {

// A dialled link; 0 is none.
using LinkHandle = long;

// A dial failed because the device is busy: a link of the same entry may be
// up already.
inline constexpr int kDeviceInUse = 633;

// The entries offered to the configuration editor, or why there can be none.
struct DialUpPhoneBook {
  std::vector<std::string> entries;
  std::string unusable;  // empty while links can be made
  std::string place;     // where the entries are kept
};

struct ActiveLink {
  std::string entry;
  LinkHandle handle = 0;
};

class RemoteAccess {
 public:
  virtual ~RemoteAccess() = default;
  // Whether links can be made on this machine at all.
  virtual bool Usable() = 0;
  // Why not, in the administrator's words ("" while links can be made).
  virtual std::string WhyUnusable() = 0;
  // Where the entries are kept, for a text that sends the administrator there.
  virtual std::string EntriesPlace() const { return {}; }
  // The names of the entries that can be dialled.
  virtual std::vector<std::string> Entries() = 0;
  // Dials `entry` and waits until its link is up (0, `handle` set), has
  // failed (an error code; `handle` set when there is a half-made link to
  // hang up) or `stopping` says to give up.
  virtual int Dial(const std::string& entry, const std::string& user, const std::string& password, LinkHandle& handle,
                   const std::function<bool()>& stopping) = 0;
  virtual bool Connected(LinkHandle handle) = 0;
  virtual void HangUp(LinkHandle handle) = 0;
  // The text of an error code of Dial.
  virtual std::string ErrorText(int code) = 0;
  virtual std::vector<ActiveLink> ActiveLinks() = 0;
};

}  // namespace brindlex
