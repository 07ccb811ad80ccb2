#include "console/admin_server.h"

#include <grp.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <shared_mutex>
#include <system_error>
#include <thread>

#include "console/admin_frame.h"
#include "console/admin_stream.h"
#include "console/admin_tls.h"
#include "core/refusal_monitor.h"
#include "core/strings.h"
#include "core/value_codec.h"
#include "net/socket_util.h"

namespace brindlex {

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kMissedLinesText = 1232;
constexpr int kWrongPasswordText = 1234;
constexpr int kNoPasswordText = 1235;
constexpr int kUserRefusedText = 1236;
constexpr int kTooManyText = 1237;
constexpr int kShutdownText = 1238;
constexpr int kBrokenText = 1245;
constexpr int kAttachedText = 1226;
constexpr int kDetachedText = 1227;
constexpr int kLocalConsoleText = 1228;
constexpr int kRemoteConsoleText = 1229;

// Calls a console may have waiting besides the one running: the console
// makes one at a time, so more is a console that does not follow the protocol.
constexpr std::size_t kMaxPendingCalls = 64;
// Connections not yet logged in (a TLS handshake, a hello, a login waiting
// out its address's delay, a refusal being said) each hold a thread; past
// this many, a new connection over the network is closed without a word, and
// past twice this many any connection is. Logged-in consoles are counted
// apart, so guessers on the network cannot lock the local console out.
constexpr std::size_t kMaxOpening = 8;
constexpr std::size_t kMaxDelayedAddresses = 1024;
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr Ipv4 kLocalAddress = 0x7f000001;


struct Outgoing {
  std::string bytes;
  bool monitorLine = false;
};

struct PendingCall {
  std::uint32_t id = 0;
  std::uint16_t call = 0;
  std::string arguments;
};

struct Console {
  ~Console() {
    if (wakeFd >= 0) ::close(wakeFd);
  }
  void Wake() { WakeFd(wakeFd); }

  // Set at accept, before the thread starts; read-only afterwards.
  bool tls = false;
  Ipv4 address = kNoAddress;
  std::string refuseText;  // refused at accept: told, then closed
  std::string refuseWho;   // the REFUSED line's login ("": no line)
  std::string who;         // how the monitor names the console
  int wakeFd = -1;
  std::unique_ptr<AdminStream> stream;  // the console's I/O thread only
  std::thread io;

  std::atomic<bool> loggedIn{false};
  std::atomic<bool> closing{false};
  std::atomic<bool> done{false};

  // Guarded by outMutex: what waits to be sent.
  std::mutex outMutex;
  std::condition_variable outRoom;
  std::deque<Outgoing> out;
  std::size_t outBytes = 0;
  std::size_t outLines = 0;
  std::uint64_t missed = 0;
  std::size_t largestBytes = 0;
  std::string farewell;

  // Guarded by callMutex: calls waiting and the one running.
  std::mutex callMutex;
  std::condition_variable callWake;
  std::deque<PendingCall> calls;
  bool running = false;
  std::uint32_t runningId = 0;
  bool runningAborted = false;
};

struct LoginDelay {
  int failures = 0;
  SteadyClock::time_point until;
};

std::string UserName(uid_t uid, gid_t& primaryGroup, bool& known) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  known = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found;
  if (!known) return std::to_string(uid);
  primaryGroup = entry.pw_gid;
  return entry.pw_name;
}

// Root, the gateway's own user, and members of its group may administer it.
bool PeerAllowed(int fd, std::string& who) {
  ucred credentials{};
  socklen_t size = sizeof(credentials);
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
    who = "?";
    return false;
  }
  gid_t primary = credentials.gid;
  bool known = false;
  who = UserName(credentials.uid, primary, known);
  const gid_t ownGroup = ::getegid();
  if (credentials.uid == 0 || credentials.uid == ::geteuid() || credentials.gid == ownGroup) return true;
  if (!known) return false;
  std::vector<gid_t> groups(64);
  for (int attempt = 0; attempt < 4; ++attempt) {
    int count = static_cast<int>(groups.size());
    if (::getgrouplist(who.c_str(), primary, groups.data(), &count) >= 0) {
      groups.resize(static_cast<std::size_t>(count));
      return std::find(groups.begin(), groups.end(), ownGroup) != groups.end();
    }
    if (count <= static_cast<int>(groups.size()) || count > 65536) return false;
    groups.resize(static_cast<std::size_t>(count));
  }
  return false;
}

}  // namespace

PasswordCheck CheckAdminPassword(std::string_view given, std::string_view stored) {
  if (stored.empty()) return PasswordCheck::kNotSet;
  // Digests of both make the comparison's time independent of the
  // passwords' lengths as well as of where they differ.
  unsigned char a[EVP_MAX_MD_SIZE];
  unsigned char b[EVP_MAX_MD_SIZE];
  unsigned int sizeA = 0;
  unsigned int sizeB = 0;
  EVP_Digest(given.data(), given.size(), a, &sizeA, EVP_sha256(), nullptr);
  EVP_Digest(stored.data(), stored.size(), b, &sizeB, EVP_sha256(), nullptr);
  return sizeA == sizeB && CRYPTO_memcmp(a, b, sizeA) == 0 ? PasswordCheck::kMatch : PasswordCheck::kWrong;
}

struct AdminServer::State {
  AdminServerOptions options;
  SslContext tls;
  std::string socketPath;
  int unixFd = -1;
  int tcpFd = -1;
  int wakeFd = -1;
  int tlsPort = 0;
  std::string hostName;
  bool started = false;
  std::atomic<bool> stopping{false};
  std::thread acceptor;

  mutable std::shared_mutex consolesMutex;
  std::vector<std::shared_ptr<Console>> consoles;  // guarded by consolesMutex

  std::mutex delayMutex;
  std::map<Ipv4, LoginDelay> delays;  // guarded by delayMutex

  bool Full(const Console& c) const {
    return c.outLines >= options.maxQueuedLines || c.outBytes >= options.maxQueuedBytes;
  }

  // Appends a frame; returns true when the queue was empty (the I/O
  // thread may be asleep). Requires c.outMutex.
  bool AppendLocked(Console& c, std::string bytes, bool monitorLine) {
    bool wasEmpty = c.out.empty();
    c.outBytes += bytes.size();
    if (monitorLine) ++c.outLines;
    c.out.push_back({std::move(bytes), monitorLine});
    c.largestBytes = std::max(c.largestBytes, c.outBytes);
    return wasEmpty;
  }

  // The line that tells how many lines the console missed, once there is
  // room again. Requires c.outMutex.
  bool AppendMissedLocked(Console& c) {
    if (c.missed == 0 || Full(c)) return false;
    std::string text = StrWith(kMissedLinesText, std::to_string(c.missed));
    c.missed = 0;
    return AppendLocked(c, PushFrame(AdminPush::kMonitorLine, text), true);
  }

  // Queues a frame of a kind that is never dropped (replies, the welcome).
  void Send(Console& c, std::string bytes) {
    bool wake;
    {
      std::lock_guard<std::mutex> lock(c.outMutex);
      wake = AppendLocked(c, std::move(bytes), false);
    }
    if (wake) c.Wake();
  }

  // Queues a frame that may be dropped when the queue is full.
  void SendIfRoom(Console& c, std::string bytes) {
    bool wake = false;
    {
      std::lock_guard<std::mutex> lock(c.outMutex);
      if (c.outBytes >= options.maxQueuedBytes) return;
      wake = AppendLocked(c, std::move(bytes), false);
    }
    if (wake) c.Wake();
  }

  void PushTo(Console& c, AdminPush kind, const std::string& frame) {
    bool wake = false;
    {
      std::lock_guard<std::mutex> lock(c.outMutex);
      if (kind == AdminPush::kMonitorLine) {
        if (Full(c)) {
          ++c.missed;
          return;
        }
        wake = AppendMissedLocked(c);
        wake = AppendLocked(c, frame, true) || wake;
      } else if (kind == AdminPush::kFarewell || c.outBytes < options.maxQueuedBytes) {
        wake = AppendLocked(c, frame, false);
      }
    }
    if (wake) c.Wake();
  }

  void CloseConsole(Console& c, const std::string& farewell) {
    {
      std::lock_guard<std::mutex> lock(c.outMutex);
      if (c.farewell.empty()) c.farewell = farewell;
      c.outRoom.notify_all();
    }
    c.closing = true;
    {
      std::lock_guard<std::mutex> lock(c.callMutex);
      c.callWake.notify_all();
    }
    c.Wake();
  }

  // Waits out the delay failed logins put on the address, then claims the
  // address for one delay more, so that logins from one address are tried
  // one after another however many connections it opens. False when the
  // console is closed meanwhile.
  bool WaitLoginDelay(Console& c) {
    while (!c.closing && !stopping) {
      SteadyClock::time_point until;
      {
        std::lock_guard<std::mutex> lock(delayMutex);
        const auto now = SteadyClock::now();
        auto it = delays.find(c.address);
        if (it == delays.end() || it->second.until <= now) {
          if (it == delays.end()) {
            MakeRoomLocked();
            it = delays.emplace(c.address, LoginDelay{}).first;
          }
          it->second.until = now + DelayAfter(it->second.failures);
          return true;
        }
        until = it->second.until;
      }
      PollOne(c.wakeFd, POLLIN, std::max(MillisecondsUntil(until), 1));
    }
    return false;
  }

  milliseconds DelayAfter(int failures) const {
    milliseconds wait = options.timings.loginDelayBase;
    for (int i = 1; i < failures && wait < options.timings.loginDelayMax; ++i) wait *= 2;
    return std::min(wait, options.timings.loginDelayMax);
  }

  // Requires delayMutex.
  void MakeRoomLocked() {
    if (delays.size() < kMaxDelayedAddresses) return;
    // The address whose delay ended longest ago goes.
    auto oldest = std::min_element(delays.begin(), delays.end(),
                                   [](const auto& a, const auto& b) { return a.second.until < b.second.until; });
    delays.erase(oldest);
  }

  void NoteFailedLogin(Ipv4 address) {
    const auto now = SteadyClock::now();
    std::lock_guard<std::mutex> lock(delayMutex);
    if (delays.find(address) == delays.end()) MakeRoomLocked();
    LoginDelay& delay = delays[address];
    ++delay.failures;
    delay.until = now + DelayAfter(delay.failures);
  }

  void ForgetFailedLogins(Ipv4 address) {
    std::lock_guard<std::mutex> lock(delayMutex);
    delays.erase(address);
  }

  // Reads until one whole frame is there. Nothing when the deadline passes,
  // the stream ends or breaks, or the console is closed.
  std::optional<Frame> ReadFrame(Console& c, FrameReader& reader, SteadyClock::time_point deadline) {
    std::vector<char> buffer(4096);
    while (!c.closing && !stopping) {
      if (std::optional<Frame> frame = reader.Take()) return frame;
      if (reader.Broken()) return std::nullopt;
      std::size_t got = 0;
      StreamIo result = c.stream->Read(buffer.data(), buffer.size(), got);
      if (result == StreamIo::kClosed) return std::nullopt;
      if (result == StreamIo::kDone) {
        reader.Feed(std::string_view(buffer.data(), got));
        continue;
      }
      int wait = MillisecondsUntil(deadline);
      if (wait == 0) return std::nullopt;
      pollfd entries[2] = {{c.stream->Fd(), c.stream->Events(false), 0}, {c.wakeFd, POLLIN, 0}};
      if (::poll(entries, 2, wait) < 0 && errno != EINTR) return std::nullopt;
    }
    return std::nullopt;
  }

  void Refuse(Console& c, const std::string& text) {
    c.stream->WriteAll(RefusedFrame(text), SteadyClock::now() + options.timings.farewell);
    c.stream->Shutdown();
  }

  // The opening: TLS, the hello, the password. True when the console is in.
  bool Login(Console& c, FrameReader& reader) {
    const auto deadline = SteadyClock::now() + options.timings.login;
    std::string error;
    if (!c.stream->Handshake(deadline, error, c.wakeFd)) return false;
    if (!c.refuseText.empty()) {
      if (!c.refuseWho.empty()) ReportAdminRefused(c.address, c.refuseWho);
      Refuse(c, c.refuseText);
      return false;
    }
    std::optional<Frame> frame = ReadFrame(c, reader, deadline);
    Hello hello;
    if (!frame || frame->kind != FrameKind::kHello || !ParseHello(frame->payload, hello)) return false;
    if (hello.version != kAdminProtocolVersion) {
      Refuse(c, VersionRefusalText(hello.version, kAdminProtocolVersion));
      return false;
    }
    if (c.tls) {
      if (!WaitLoginDelay(c)) return false;
      PasswordCheck check = options.checkPassword ? options.checkPassword(hello.password) : PasswordCheck::kNotSet;
      if (check != PasswordCheck::kMatch) {
        ReportAdminRefused(c.address);
        NoteFailedLogin(c.address);
        Refuse(c, Str(check == PasswordCheck::kNotSet ? kNoPasswordText : kWrongPasswordText));
        return false;
      }
      ForgetFailedLogins(c.address);
    }
    {
      std::unique_lock<std::shared_mutex> lock(consolesMutex);
      std::size_t in = static_cast<std::size_t>(
          std::count_if(consoles.begin(), consoles.end(), [](const auto& other) { return other->loggedIn.load(); }));
      if (in >= kMaxAdminConsoles) {
        lock.unlock();
        Refuse(c, StrWith(kTooManyText, std::to_string(kMaxAdminConsoles)));
        return false;
      }
      Send(c, WelcomeFrame(hostName));
      c.loggedIn = true;
    }
    return true;
  }

  // One frame from a logged-in console. False when it breaks the protocol.
  bool Handle(Console& c, const Frame& frame) {
    switch (frame.kind) {
      case FrameKind::kCall: {
        std::uint32_t id = 0;
        std::uint16_t call = 0;
        std::string_view arguments;
        if (!ParseCall(frame.payload, id, call, arguments)) return false;
        std::lock_guard<std::mutex> lock(c.callMutex);
        if (c.calls.size() >= kMaxPendingCalls) return false;
        c.calls.push_back({id, call, std::string(arguments)});
        c.callWake.notify_all();
        return true;
      }
      case FrameKind::kAbort: {
        std::uint32_t id = 0;
        if (!ParseAbort(frame.payload, id)) return false;
        bool dropped = false;
        {
          std::lock_guard<std::mutex> lock(c.callMutex);
          if (c.running && c.runningId == id) c.runningAborted = true;
          auto it = std::find_if(c.calls.begin(), c.calls.end(), [id](const PendingCall& p) { return p.id == id; });
          if (it != c.calls.end()) {
            c.calls.erase(it);
            dropped = true;
          }
        }
        if (dropped) Send(c, ReplyFrame(id, false, {}));
        return true;
      }
      case FrameKind::kPing:
        SendIfRoom(c, EncodeFrame(FrameKind::kPong, {}));
        return true;
      case FrameKind::kPong:
        return true;
      default:
        return false;
    }
  }

  void ServeCalls(Console& c) {
    while (true) {
      PendingCall call;
      {
        std::unique_lock<std::mutex> lock(c.callMutex);
        c.callWake.wait(lock, [&] { return c.closing || !c.calls.empty(); });
        if (c.closing) return;
        call = std::move(c.calls.front());
        c.calls.pop_front();
        c.running = true;
        c.runningId = call.id;
        c.runningAborted = false;
      }
      {
        // A console that calls and never reads gets no more replies queued
        // than its bound.
        std::unique_lock<std::mutex> lock(c.outMutex);
        c.outRoom.wait(lock, [&] { return c.closing || c.outBytes < options.maxQueuedBytes; });
        if (c.closing) return;
      }
      AdminCallContext context;
      if (options.runOnMainThread) {
        context.runOnMainThread = options.runOnMainThread;
      } else {
        context.runOnMainThread = [](const std::function<void()>& work) { work(); };
      }
      const std::uint32_t id = call.id;
      context.progress = [this, &c, id](std::string payload) { SendIfRoom(c, ProgressFrame(id, payload)); };
      context.aborted = [&c] {
        if (c.closing) return true;
        std::lock_guard<std::mutex> lock(c.callMutex);
        return c.runningAborted;
      };
      std::optional<std::string> result;
      bool failed = false;
      try {
        if (options.serve) result = options.serve(call.call, call.arguments, context);
      } catch (const std::exception&) {
        failed = true;
      }
      const bool aborted = context.aborted();
      {
        std::lock_guard<std::mutex> lock(c.callMutex);
        c.running = false;
      }
      if (result) {
        Send(c, ReplyFrame(id, true, *result));
      } else if (failed || aborted) {
        Send(c, ReplyFrame(id, false, {}));
      } else {
        CloseConsole(c, Str(kBrokenText));
        return;
      }
    }
  }

  // Takes the next frame to send into `sending`. False when none waits.
  bool TakeNext(Console& c, std::string& sending) {
    std::lock_guard<std::mutex> lock(c.outMutex);
    AppendMissedLocked(c);
    if (c.out.empty()) return false;
    Outgoing& front = c.out.front();
    c.outBytes -= front.bytes.size();
    if (front.monitorLine) --c.outLines;
    sending = std::move(front.bytes);
    c.out.pop_front();
    c.outRoom.notify_all();
    return true;
  }

  void SayFarewell(Console& c, const std::string& sending, std::size_t sent, const std::string& text) {
    const auto deadline = SteadyClock::now() + options.timings.farewell;
    // The frame begun goes out whole first: half of one would garble the
    // farewell.
    if (sent < sending.size() && !c.stream->WriteAll(sending.substr(sent), deadline)) return;
    c.stream->WriteAll(PushFrame(AdminPush::kFarewell, text), deadline);
    c.stream->Shutdown();
  }

  // The I/O of a logged-in console until it is closed or goes away.
  void Serve(Console& c, FrameReader& reader) {
    reader.SetLimit(kFrameLimitFromConsole);
    std::vector<char> buffer(kReadChunk);
    std::string sending;
    std::size_t sent = 0;
    auto lastFrame = SteadyClock::now();
    auto lastByte = lastFrame;
    std::string closingText;
    while (true) {
      if (c.closing || stopping) {
        std::lock_guard<std::mutex> lock(c.outMutex);
        closingText = c.farewell.empty() ? Str(kShutdownText) : c.farewell;
        break;
      }
      if (sending.empty()) {
        sent = 0;
        TakeNext(c, sending);
      }
      auto until = lastFrame + options.timings.silence;
      if (reader.MidFrame()) until = std::min(until, lastByte + options.timings.stall);
      int wait = c.stream->HasBuffered() ? 0 : std::min(MillisecondsUntil(until), 1000);
      pollfd entries[2] = {{c.stream->Fd(), c.stream->Events(!sending.empty()), 0}, {c.wakeFd, POLLIN, 0}};
      if (::poll(entries, 2, wait) < 0 && errno != EINTR) return;
      if (entries[1].revents) DrainFd(c.wakeFd);
      const auto now = SteadyClock::now();
      if ((entries[0].revents & (POLLIN | POLLERR | POLLHUP)) || c.stream->HasBuffered()) {
        for (int reads = 0; reads < 4; ++reads) {
          std::size_t got = 0;
          StreamIo result = c.stream->Read(buffer.data(), buffer.size(), got);
          if (result == StreamIo::kClosed) return;
          if (result == StreamIo::kWouldBlock) break;
          lastByte = now;
          reader.Feed(std::string_view(buffer.data(), got));
          while (std::optional<Frame> frame = reader.Take()) {
            lastFrame = now;
            if (!Handle(c, *frame)) {
              closingText = Str(kBrokenText);
              break;
            }
          }
          if (reader.Broken()) closingText = Str(kBrokenText);
          if (!closingText.empty()) break;
        }
        if (!closingText.empty()) break;
      }
      while (!sending.empty()) {
        std::size_t wrote = 0;
        StreamIo result = c.stream->Write(sending.data() + sent, sending.size() - sent, wrote);
        if (result == StreamIo::kClosed) return;
        sent += wrote;
        if (result == StreamIo::kWouldBlock) break;
        if (sent == sending.size()) {
          sending.clear();
          sent = 0;
          TakeNext(c, sending);
        }
      }
      if (now - lastFrame >= options.timings.silence ||
          (reader.MidFrame() && now - lastByte >= options.timings.stall)) {
        closingText = Str(kBrokenText);
        break;
      }
    }
    SayFarewell(c, sending, sent, closingText);
  }

  void RunConsole(std::shared_ptr<Console> c) {
    BlockBrokenPipeSignal();
    FrameReader reader(kFrameLimitBeforeLogin);
    std::thread calls;
    const bool in = Login(*c, reader);
    // The administrator sees who attached to the gateway, and when he left.
    if (in && options.monitor) options.monitor(StrWith(kAttachedText, c->who));
    if (in) {
      try {
        calls = std::thread([this, c] { ServeCalls(*c); });
        Serve(*c, reader);
      } catch (const std::system_error&) {
        // No thread for its calls: the console is closed.
      }
    }
    c->loggedIn = false;
    CloseConsole(*c, Str(kBrokenText));
    c->stream.reset();
    if (calls.joinable()) calls.join();
    if (in && options.monitor) options.monitor(StrWith(kDetachedText, c->who));
    c->done = true;
    WakeFd(wakeFd);
  }

  void Accept(int listenFd, bool viaTls) {
    sockaddr_in peer{};
    socklen_t size = sizeof(peer);
    int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: let the others end before trying again.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) PollOne(wakeFd, POLLIN, 100);
      return;
    }
    auto c = std::make_shared<Console>();
    c->tls = viaTls;
    c->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (c->wakeFd < 0) {
      ::close(fd);
      return;
    }
    if (viaTls) {
      c->address = peer.sin_family == AF_INET ? ntohl(peer.sin_addr.s_addr) : kNoAddress;
      // No delay comes with the listening socket.
      c->who = StrWith(kRemoteConsoleText, FormatIpv4(c->address));
    } else {
      c->address = kLocalAddress;
      std::string who;
      if (!PeerAllowed(fd, who)) {
        c->refuseText = StrWith(kUserRefusedText, who);
        c->refuseWho = who;
      }
      c->who = StrWith(kLocalConsoleText, who);
    }
    {
      // Only this thread adds consoles, so the count holds until the push
      // below; the thread is started without the lock, which Push shares.
      std::shared_lock<std::shared_mutex> lock(consolesMutex);
      std::size_t opening = static_cast<std::size_t>(std::count_if(
          consoles.begin(), consoles.end(), [](const auto& other) { return !other->loggedIn && !other->done; }));
      if (opening >= (viaTls ? kMaxOpening : 2 * kMaxOpening)) {
        ::close(fd);
        return;
      }
    }
    c->stream = std::make_unique<AdminStream>(fd, viaTls ? tls.get() : nullptr, true);
    try {
      c->io = std::thread([this, c] { RunConsole(c); });
    } catch (const std::system_error&) {
      return;  // the stream closes the descriptor
    }
    std::unique_lock<std::shared_mutex> lock(consolesMutex);
    consoles.push_back(std::move(c));
  }

  void Reap() {
    std::vector<std::shared_ptr<Console>> ended;
    {
      std::unique_lock<std::shared_mutex> lock(consolesMutex);
      auto end = std::partition(consoles.begin(), consoles.end(), [](const auto& c) { return !c->done; });
      ended.assign(std::make_move_iterator(end), std::make_move_iterator(consoles.end()));
      consoles.erase(end, consoles.end());
    }
    for (auto& c : ended)
      if (c->io.joinable()) c->io.join();
  }

  void AcceptLoop() {
    while (!stopping) {
      pollfd entries[3] = {{wakeFd, POLLIN, 0}, {unixFd, POLLIN, 0}, {tcpFd, POLLIN, 0}};
      int n = ::poll(entries, tcpFd >= 0 ? 3 : 2, 1000);
      if (n < 0 && errno != EINTR) break;
      if (entries[0].revents) DrainFd(wakeFd);
      Reap();
      if (stopping) break;
      if (entries[1].revents & POLLIN) Accept(unixFd, false);
      if (tcpFd >= 0 && (entries[2].revents & POLLIN)) Accept(tcpFd, true);
    }
  }

  void CloseListeners() {
    if (unixFd >= 0) {
      ::close(unixFd);
      ::unlink(socketPath.c_str());
      unixFd = -1;
    }
    if (tcpFd >= 0) ::close(tcpFd);
    tcpFd = -1;
    if (wakeFd >= 0) ::close(wakeFd);
    wakeFd = -1;
  }
};

AdminServer::AdminServer() : state_(std::make_unique<State>()) {}

AdminServer::~AdminServer() { Stop(); }

bool AdminServer::Start(AdminServerOptions options, std::string& error) {
  State& s = *state_;
  if (s.started) {
    error = "already started";
    return false;
  }
  s.options = std::move(options);
  s.socketPath = AdminSocketPath(s.options.programFolder);
  s.hostName = s.options.hostName;
  if (s.hostName.empty()) {
    char name[256] = {};
    if (::gethostname(name, sizeof(name) - 1) == 0) s.hostName = name;
  }
  if (s.options.port != 0) {
    s.tls = MakeAdminServerContext(s.options.programFolder, error);
    if (!s.tls) return false;
  }
  s.wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  s.unixFd = ListenUnix(s.socketPath, 0660);
  if (s.wakeFd < 0 || s.unixFd < 0) {
    error = s.socketPath + ": " + std::strerror(errno);
    s.CloseListeners();
    return false;
  }
  if (s.options.port != 0) {
    Ipv4 address = 0;  // every address
    const bool readable = s.options.address.empty() || ParseDottedQuad(s.options.address, address);
    if (!readable) errno = EINVAL;
    s.tcpFd = readable ? ListenOn(address, s.options.port == kAnyAdminPort ? 0 : s.options.port, 16) : -1;
    Ipv4 bound = 0;
    std::uint16_t port = 0;
    if (s.tcpFd < 0 || !LocalAddress(s.tcpFd, bound, port)) {
      error = "AdminPort " + std::to_string(s.options.port) + ": " + std::strerror(errno);
      s.CloseListeners();
      return false;
    }
    s.tlsPort = port;
  }
  s.stopping = false;
  try {
    s.acceptor = std::thread([&s] { s.AcceptLoop(); });
  } catch (const std::system_error& e) {
    error = e.what();
    s.CloseListeners();
    return false;
  }
  s.started = true;
  return true;
}

void AdminServer::Stop() {
  State& s = *state_;
  if (!s.started) return;
  s.stopping = true;
  WakeFd(s.wakeFd);
  if (s.acceptor.joinable()) s.acceptor.join();
  std::vector<std::shared_ptr<Console>> all;
  {
    std::unique_lock<std::shared_mutex> lock(s.consolesMutex);
    all.swap(s.consoles);
  }
  for (auto& c : all) s.CloseConsole(*c, Str(kShutdownText));
  for (auto& c : all)
    if (c->io.joinable()) c->io.join();
  s.CloseListeners();
  s.tls.reset();
  s.started = false;
}

void AdminServer::Push(AdminPush kind, std::string_view payload) {
  State& s = *state_;
  std::shared_lock<std::shared_mutex> lock(s.consolesMutex);
  if (s.consoles.empty()) return;
  std::string frame;
  for (const auto& c : s.consoles) {
    if (!c->loggedIn || c->closing) continue;
    if (frame.empty()) frame = PushFrame(kind, payload);
    s.PushTo(*c, kind, frame);
  }
}

std::size_t AdminServer::ConsoleCount() const {
  const State& s = *state_;
  std::shared_lock<std::shared_mutex> lock(s.consolesMutex);
  return static_cast<std::size_t>(std::count_if(s.consoles.begin(), s.consoles.end(),
                                                [](const auto& c) { return c->loggedIn && !c->closing && !c->done; }));
}

std::vector<AdminConsoleFigures> AdminServer::Figures() const {
  const State& s = *state_;
  std::vector<AdminConsoleFigures> figures;
  std::shared_lock<std::shared_mutex> lock(s.consolesMutex);
  for (const auto& c : s.consoles) {
    if (!c->loggedIn) continue;
    std::lock_guard<std::mutex> out(c->outMutex);
    figures.push_back({c->outLines, c->outBytes, c->missed, c->largestBytes});
  }
  return figures;
}

int AdminServer::TlsPort() const { return state_->tlsPort; }

}  // namespace brindlex
