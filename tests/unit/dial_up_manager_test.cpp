// The dial-up manager's passes over a backend of the test's own, with the
// manual clock: one dial for every connection waiting, the take-over of a
// link that is up already, the pause after a failed dial, the idle hang-up
// and the hang-up when dial-up is switched off; and the worker's side: a
// user who may not dial, a destination reachable without the link, and a
// request nobody can answer.
#include "dialup/dial_up_manager.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "core/log_files.h"
#include "core/strings.h"
#include "net/dial_up_link.h"
#include "net/upstream.h"
#include "tests/unit/account_world.h"

namespace brindlex::testing {
namespace {

class FakeLinks final : public RemoteAccess {
 public:
  bool Usable() override { return why.empty(); }
  std::string WhyUnusable() override { return why; }
  std::vector<std::string> Entries() override { return {"office"}; }
  int Dial(const std::string& entry, const std::string& user, const std::string& password, LinkHandle& handle,
           const std::function<bool()>&) override {
    dialled.push_back(entry + "/" + user + "/" + password);
    handle = dialHandle;
    if (dialResult == 0) up.push_back(handle);
    return dialResult;
  }
  bool Connected(LinkHandle handle) override { return std::count(up.begin(), up.end(), handle) > 0; }
  void HangUp(LinkHandle handle) override {
    hungUp.push_back(handle);
    up.erase(std::remove(up.begin(), up.end(), handle), up.end());
  }
  std::string ErrorText(int code) override { return code == kDeviceInUse ? "busy, device" : "failed"; }
  std::vector<ActiveLink> ActiveLinks() override { return active; }

  std::string why;
  int dialResult = 0;
  LinkHandle dialHandle = 7;
  std::vector<std::string> dialled;
  std::vector<LinkHandle> up;
  std::vector<LinkHandle> hungUp;
  std::vector<ActiveLink> active;
};

class DialUp : public AccountWorld {
 protected:
  void SetUp() override {
    AccountWorld::SetUp();
    ChangeSettings([](SystemSettings& s) {
      s.EnableDialUp = true;
      s.DialUpConnection = "office";
      s.DialUpUser = "u";
      s.DialUpPassword = "p";
      s.DialUpWaitRepet = 30;
      s.DialUpIdleTime = 60;
    });
    manager_.access = &links_;
    manager_.writeLine = [this](const std::string& line) { lines_.push_back(line); };
    user_ = AddUser("ann");
  }
  void TearDown() override {
    {
      std::lock_guard<std::mutex> lock(AccountsLock());
      ConnectionListLocked().clear();
    }
    SetDialUpLinkUp(false);
    SetDialUpAnswered(false);
    AccountWorld::TearDown();
  }
  // A connection in the connection list, waiting for the link or not.
  ConnectionRecord* Listed(bool waiting) {
    ConnectionRecord* c = Connect(user_, "192.168.0.5");
    c->dialUpWait = waiting;
    std::lock_guard<std::mutex> lock(AccountsLock());
    ConnectionListLocked().push_back(c);
    return c;
  }
  void Unlist() {
    std::lock_guard<std::mutex> lock(AccountsLock());
    ConnectionListLocked().clear();
  }
  void Seconds(int n) { clock_.Advance(std::int64_t{n} * kPerformanceFrequency); }
  std::string Stamp() { return FormatLogTimeStamp(clock_.LocalNow()); }

  FakeLinks links_;
  DialUpManager manager_;
  std::vector<std::string> lines_;
  UserRecord* user_ = nullptr;
};

TEST_F(DialUp, ConnectionsAskingAtOnceCauseOneDialAndAreAllReleased) {
  ConnectionRecord* first = Listed(true);
  ConnectionRecord* second = Listed(true);
  DialUpPass(manager_);
  EXPECT_EQ(links_.dialled, std::vector<std::string>{"office/u/p"});
  EXPECT_FALSE(first->dialUpWait);
  EXPECT_FALSE(second->dialUpWait);
  EXPECT_TRUE(DialUpLinkUp());
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0], "DIALUP_CONNECT: OK, , , " + Stamp() + ", , , ");

  // Up: nothing more is dialled for a later request.
  Listed(true);
  DialUpPass(manager_);
  EXPECT_EQ(links_.dialled.size(), 1u);
}

TEST_F(DialUp, ABusyDeviceTakesOverTheEntrysLinkThatIsUpAlready) {
  links_.dialResult = kDeviceInUse;
  links_.dialHandle = 0;
  links_.active = {{"other", 3}, {"office", 9}};
  links_.up = {9};
  Listed(true);
  DialUpPass(manager_);
  EXPECT_EQ(manager_.line, 9);
  EXPECT_TRUE(DialUpLinkUp());
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0], "DIALUP_CONNECT: OK, , , " + Stamp() + ", , , ");
}

TEST_F(DialUp, AFailedDialIsLoggedAndNotRepeatedUntilThePauseHasPassed) {
  links_.dialResult = kDeviceInUse;
  links_.dialHandle = 4;  // a half-made link is hung up
  links_.active = {{"other", 3}};
  ConnectionRecord* waiting = Listed(true);
  DialUpPass(manager_);
  EXPECT_FALSE(waiting->dialUpWait) << "released to fail";
  EXPECT_FALSE(DialUpLinkUp());
  EXPECT_EQ(links_.hungUp, std::vector<LinkHandle>{4});
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0], "DIALUP_CONNECT: busy%2C device, , , " + Stamp() + ", , , ") << "the comma is escaped";

  waiting->dialUpWait = true;
  Seconds(30);
  DialUpPass(manager_);
  EXPECT_EQ(links_.dialled.size(), 1u) << "30 s are not more than DialUpWaitRepet";
  Seconds(1);
  DialUpPass(manager_);  // forgets the failure
  DialUpPass(manager_);
  EXPECT_EQ(links_.dialled.size(), 2u);
}

TEST_F(DialUp, WithoutConnectionsTheLinkDropsAfterTheIdleTimeWithOneLine) {
  Listed(true);
  DialUpPass(manager_);
  Unlist();  // the last connection closes now
  Seconds(60);
  DialUpPass(manager_);
  EXPECT_TRUE(DialUpLinkUp()) << "60 s are not more than DialUpIdleTime";
  Seconds(1);
  DialUpPass(manager_);
  DialUpPass(manager_);
  EXPECT_FALSE(DialUpLinkUp());
  EXPECT_EQ(links_.hungUp, std::vector<LinkHandle>{7});
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(lines_[1], "DIALUP_DISCONNECT, , , " + Stamp() + ", , , ");
}

TEST_F(DialUp, SwitchingDialUpOffDropsTheLinkAtOnceAndALostLinkWithoutALine) {
  Listed(true);
  DialUpPass(manager_);
  ChangeSettings([](SystemSettings& s) { s.EnableDialUp = false; });
  DialUpPass(manager_);
  EXPECT_FALSE(DialUpLinkUp());
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(lines_[1].substr(0, 18), "DIALUP_DISCONNECT,");

  ChangeSettings([](SystemSettings& s) { s.EnableDialUp = true; });
  Listed(true);
  DialUpPass(manager_);
  ASSERT_TRUE(DialUpLinkUp());
  links_.up.clear();  // the line went down by itself
  DialUpPass(manager_);
  EXPECT_FALSE(DialUpLinkUp());
  EXPECT_EQ(lines_.size(), 3u) << "no line for a link that was lost";
}

TEST_F(DialUp, AnUnusableBackendIsToldOnceUntilItCanDialOrDialUpWasOff) {
  links_.why = "no pppd here";
  const auto first = UnusableNotice(manager_, true, links_.Usable());
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(*first, StrWith(1418, "no pppd here"));
  EXPECT_NE(first->find("no pppd here"), std::string::npos);
  EXPECT_FALSE(UnusableNotice(manager_, true, links_.Usable())) << "once, not once per pass";
  EXPECT_FALSE(UnusableNotice(manager_, true, links_.Usable()));

  // Switched off: nothing to say; switched on again: said again.
  EXPECT_FALSE(UnusableNotice(manager_, false, links_.Usable()));
  EXPECT_TRUE(UnusableNotice(manager_, true, links_.Usable()));

  // Repaired, then broken again: said again, with the new reason.
  links_.why.clear();
  EXPECT_FALSE(UnusableNotice(manager_, true, links_.Usable()));
  links_.why = "no peers folder";
  const auto again = UnusableNotice(manager_, true, links_.Usable());
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(*again, StrWith(1418, "no peers folder"));
}

// A loopback listener standing for an Internet destination.
struct Destination {
  Destination() {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    ::listen(fd, 4);
    socklen_t length = sizeof(a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
  }
  ~Destination() { ::close(fd); }
  int fd = -1;
  int port = 0;
};

TEST_F(DialUp, AWorkerWaitsForTheDialOnlyWhenItMayAndSomebodyAnswers) {
  Destination destination;
  ConnectionRecord* c = Listed(false);
  c->serverAddress = 0x7F000001;
  c->serverPort = destination.port;

  // Nobody answers dial requests: the connection fails at once.
  EXPECT_EQ(ConnectUpstream(*c), UpstreamResult::kFailed);
  EXPECT_FALSE(c->dialUpWait);

  // A destination reachable without the link needs no dial.
  ChangeSettings([](SystemSettings& s) { s.DialUpCheckNecessity = true; });
  SetDialUpAnswered(true);
  EXPECT_EQ(ConnectUpstream(*c), UpstreamResult::kConnected);
  EXPECT_TRUE(links_.dialled.empty());
  ChangeSettings([](SystemSettings& s) { s.DialUpCheckNecessity = false; });

  // A user who may not dial fails while the link is down, not while it is up.
  user_->rules.dialUpDenied = true;
  EXPECT_EQ(ConnectUpstream(*c), UpstreamResult::kDialUpDenied);
  SetDialUpLinkUp(true);
  EXPECT_EQ(ConnectUpstream(*c), UpstreamResult::kConnected);
  SetDialUpLinkUp(false);
  user_->rules.dialUpDenied = false;

  // Otherwise the worker waits until the manager has dialled.
  UpstreamResult result = UpstreamResult::kFailed;
  std::thread worker([&] { result = ConnectUpstream(*c); });
  while (!c->dialUpWait) std::this_thread::yield();
  DialUpPass(manager_);
  worker.join();
  EXPECT_EQ(result, UpstreamResult::kConnected);
  EXPECT_EQ(links_.dialled.size(), 1u);
}

}  // namespace
}  // namespace brindlex::testing
