#include "console/admin_client.h"

#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "console/admin_frame.h"
#include "console/admin_stream.h"
#include "console/admin_tls.h"
#include "core/file_io.h"
#include "core/program_folder.h"
#include "core/strings.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kMissedLinesText = 1232;
constexpr int kFingerprintRefusedText = 1246;
constexpr int kFingerprintChangedText = 1247;
constexpr std::size_t kPinFileMax = 1024 * 1024;
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kMaxQueuedPushBytes = 16 * 1024 * 1024;

struct Slot {
  bool done = false;
  bool ok = false;
  std::string result;
  std::deque<std::string> progress;
};

}  // namespace

std::string KnownGatewaysPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string folder;
  if (config && *config) {
    folder = config;
  } else {
    const char* home = std::getenv("HOME");
    std::string homeFolder = home && *home ? home : "";
    if (homeFolder.empty()) {
      std::vector<char> buffer(16384);
      passwd entry{};
      passwd* found = nullptr;
      if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        homeFolder = entry.pw_dir;
    }
    folder = homeFolder + "/.config";
  }
  return folder + "/brindlex/known_gateways";
}

std::optional<std::string> PinnedFingerprint(const std::string& pinFile, const std::string& target) {
  std::string text;
  if (!ReadFileBounded(pinFile, kPinFileMax, text)) return std::nullopt;
  std::string_view rest(text);
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    std::string_view line = Trim(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    std::size_t space = line.find(' ');
    if (space == std::string_view::npos) continue;
    if (line.substr(0, space) == target) return std::string(Trim(line.substr(space + 1)));
  }
  return std::nullopt;
}

bool StorePin(const std::string& pinFile, const std::string& target, const std::string& fingerprint) {
  std::string old;
  ReadFileBounded(pinFile, kPinFileMax, old);
  std::string text;
  std::string_view rest(old);
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.substr(0, trimmed.find(' ')) == target) continue;
    text.append(line);
    text.push_back('\n');
  }
  text += target + " " + fingerprint + "\n";
  // ~/.config itself may not be there yet on a fresh account.
  std::size_t slash = pinFile.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    std::string folder = pinFile.substr(0, slash);
    std::size_t parent = folder.rfind('/');
    if (parent != std::string::npos && parent > 0) EnsureFolder(folder.substr(0, parent));
    EnsureFolder(folder);
  }
  return WriteFileAtomically(pinFile, text, 0600);
}

std::string ChangedFingerprintWarning(const std::string& target, const std::string& pinned,
                                      const std::string& fingerprint) {
  return StrWith(kFingerprintChangedText, target, pinned, fingerprint);
}

struct AdminClient::Impl {
  AdminClientOptions options;
  std::string pinFile;
  int wakeFd = -1;
  std::thread io;

  mutable std::mutex mutex;  // guards every member below
  mutable std::condition_variable changed;
  bool stop = false;
  bool gaveUp = false;
  AdminLinkState state;
  std::deque<std::string> outgoing;
  std::map<std::uint32_t, Slot*> waiting;
  std::uint32_t nextId = 0;
  std::deque<std::pair<AdminPush, std::string>> pushes;
  std::size_t pushBytes = 0;
  std::uint64_t missedLines = 0;

  void Wake() { WakeFd(wakeFd); }

  void SetDown(const std::string& error) {
    std::lock_guard<std::mutex> lock(mutex);
    state.up = false;
    state.lastError = error;
    outgoing.clear();
    for (auto& [id, slot] : waiting) slot->done = true;
    changed.notify_all();
  }

  // Connects, checks the pin, says hello and waits for the welcome. The
  // stream, or nothing with `error` set.
  std::unique_ptr<AdminStream> Open(FrameReader& reader, std::string& error) {
    const auto deadline = SteadyClock::now() + options.timings.connect;
    // A wake meant for the last link must not cancel this one's handshake.
    DrainFd(wakeFd);
    SslContext context;
    std::unique_ptr<AdminStream> stream;
    std::string password;
    if (options.host.empty()) {
      std::string path = AdminSocketPath(options.programFolder);
      int fd = ConnectUnix(path);
      if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
      }
      stream = std::make_unique<AdminStream>(fd, nullptr, false);
    } else {
      const std::string target = options.host + ":" + std::to_string(options.port);
      int fd = ConnectTcp(options.host, options.port, static_cast<int>(options.timings.connect.count()));
      if (fd < 0) {
        error = target + ": " + std::strerror(errno);
        return nullptr;
      }
      context = MakeAdminClientContext();
      stream = std::make_unique<AdminStream>(fd, context.get(), false);
      if (!context || !stream->Handshake(deadline, error, wakeFd)) {
        if (error.empty()) error = TakeTlsError();
        return nullptr;
      }
      const std::string fingerprint = stream->PeerFingerprint();
      std::optional<std::string> pinned = PinnedFingerprint(pinFile, target);
      if (!pinned || *pinned != fingerprint) {
        bool accepted = !fingerprint.empty() && options.confirmFingerprint &&
                        options.confirmFingerprint(target, fingerprint, pinned.has_value());
        if (!accepted) {
          error = StrWith(kFingerprintRefusedText, target);
          GiveUp();
          return nullptr;
        }
        StorePin(pinFile, target, fingerprint);
      }
      std::optional<std::string> given = options.password ? options.password() : std::optional<std::string>("");
      if (!given) {
        error = Str(1234);
        GiveUp();
        return nullptr;
      }
      password = std::move(*given);
    }
    if (!stream->WriteAll(HelloFrame(password), deadline)) {
      error = "hello not sent";
      return nullptr;
    }
    std::vector<char> buffer(4096);
    while (true) {
      if (std::optional<Frame> frame = reader.Take()) {
        std::uint16_t version = 0;
        std::string host;
        if (frame->kind == FrameKind::kWelcome && ParseWelcome(frame->payload, version, host) &&
            version == kAdminProtocolVersion) {
          std::lock_guard<std::mutex> lock(mutex);
          state.gatewayHost = host;
          return stream;
        }
        error =
            frame->kind == FrameKind::kRefused ? frame->payload : VersionRefusalText(kAdminProtocolVersion, version);
        return nullptr;
      }
      if (reader.Broken()) {
        error = "not a gateway";
        return nullptr;
      }
      std::size_t got = 0;
      StreamIo result = stream->Read(buffer.data(), buffer.size(), got);
      if (result == StreamIo::kClosed) {
        error = "closed by the gateway";
        return nullptr;
      }
      if (result == StreamIo::kDone) {
        reader.Feed(std::string_view(buffer.data(), got));
        continue;
      }
      int wait = MillisecondsUntil(deadline);
      if (wait == 0) {
        error = "no answer from the gateway";
        return nullptr;
      }
      pollfd entries[2] = {{stream->Fd(), stream->Events(false), 0}, {wakeFd, POLLIN, 0}};
      if (::poll(entries, 2, wait) < 0 && errno != EINTR) return nullptr;
      std::lock_guard<std::mutex> lock(mutex);
      if (stop) return nullptr;
    }
  }

  void GiveUp() {
    std::lock_guard<std::mutex> lock(mutex);
    gaveUp = true;
  }

  void Received(const Frame& frame, std::string& error) {
    switch (frame.kind) {
      case FrameKind::kReply: {
        std::uint32_t id = 0;
        bool ok = false;
        std::string_view result;
        if (!ParseReply(frame.payload, id, ok, result)) break;
        std::lock_guard<std::mutex> lock(mutex);
        auto it = waiting.find(id);
        if (it == waiting.end()) return;
        it->second->done = true;
        it->second->ok = ok;
        it->second->result.assign(result);
        changed.notify_all();
        return;
      }
      case FrameKind::kProgress: {
        std::uint32_t id = 0;
        std::string_view data;
        if (!ParseProgress(frame.payload, id, data)) break;
        std::lock_guard<std::mutex> lock(mutex);
        auto it = waiting.find(id);
        if (it != waiting.end() && it->second->progress.size() < 1000) {
          it->second->progress.emplace_back(data);
          changed.notify_all();
        }
        return;
      }
      case FrameKind::kPush: {
        AdminPush kind{};
        std::string_view data;
        if (!ParsePush(frame.payload, kind, data)) break;
        std::lock_guard<std::mutex> lock(mutex);
        if (kind == AdminPush::kFarewell) error = std::string(data);
        // A console that stopped taking its pushes (a window held up) must
        // not grow without end; a refresh or status missed comes again.
        if (kind != AdminPush::kFarewell &&
            (pushes.size() >= options.maxQueuedPushes || pushBytes >= kMaxQueuedPushBytes)) {
          if (kind == AdminPush::kMonitorLine) ++missedLines;
          return;
        }
        pushBytes += data.size();
        pushes.emplace_back(kind, std::string(data));
        return;
      }
      case FrameKind::kPing: {
        std::lock_guard<std::mutex> lock(mutex);
        outgoing.push_back(EncodeFrame(FrameKind::kPong, {}));
        return;
      }
      case FrameKind::kPong:
        return;
      case FrameKind::kRefused:
        error = frame.payload;
        return;
      default:
        break;
    }
    error = "the gateway broke the protocol";
  }

  // The link's I/O until it ends; the reason.
  std::string Run(AdminStream& stream, FrameReader& reader) {
    reader.SetLimit(kFrameLimitFromGateway);
    std::vector<char> buffer(kReadChunk);
    std::string sending;
    std::size_t sent = 0;
    auto lastFrame = SteadyClock::now();
    auto lastPing = lastFrame;
    std::string error;
    while (error.empty()) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (stop) return "closed";
        if (sending.empty() && !outgoing.empty()) {
          sending = std::move(outgoing.front());
          outgoing.pop_front();
          sent = 0;
        }
      }
      auto until = std::min(lastPing + options.timings.ping, lastFrame + options.timings.silence);
      int wait = stream.HasBuffered() ? 0 : MillisecondsUntil(until);
      pollfd entries[2] = {{stream.Fd(), stream.Events(!sending.empty()), 0}, {wakeFd, POLLIN, 0}};
      if (::poll(entries, 2, wait) < 0 && errno != EINTR) return std::strerror(errno);
      if (entries[1].revents) DrainFd(wakeFd);
      const auto now = SteadyClock::now();
      if ((entries[0].revents & (POLLIN | POLLERR | POLLHUP)) || stream.HasBuffered()) {
        for (int reads = 0; reads < 16 && error.empty(); ++reads) {
          std::size_t got = 0;
          StreamIo result = stream.Read(buffer.data(), buffer.size(), got);
          if (result == StreamIo::kClosed) return error.empty() ? "closed by the gateway" : error;
          if (result == StreamIo::kWouldBlock) break;
          reader.Feed(std::string_view(buffer.data(), got));
          while (std::optional<Frame> frame = reader.Take()) {
            lastFrame = now;
            Received(*frame, error);
          }
          if (reader.Broken()) error = "the gateway broke the protocol";
        }
        if (!error.empty()) break;
      }
      while (!sending.empty()) {
        std::size_t wrote = 0;
        StreamIo result = stream.Write(sending.data() + sent, sending.size() - sent, wrote);
        if (result == StreamIo::kClosed) return "closed by the gateway";
        sent += wrote;
        if (result == StreamIo::kWouldBlock) break;
        if (sent == sending.size()) {
          sending.clear();
          std::lock_guard<std::mutex> lock(mutex);
          if (!outgoing.empty()) {
            sending = std::move(outgoing.front());
            outgoing.pop_front();
          }
          sent = 0;
        }
      }
      if (now - lastFrame >= options.timings.silence) return "the gateway fell silent";
      if (now - lastPing >= options.timings.ping) {
        std::lock_guard<std::mutex> lock(mutex);
        outgoing.push_back(EncodeFrame(FrameKind::kPing, {}));
        lastPing = now;
      }
    }
    return error;
  }

  void Loop() {
    BlockBrokenPipeSignal();
    while (true) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return stop || !gaveUp; });
        if (stop) return;
      }
      FrameReader reader(kFrameLimitBeforeLogin);
      std::string error;
      std::unique_ptr<AdminStream> stream = Open(reader, error);
      if (stream) {
        {
          std::lock_guard<std::mutex> lock(mutex);
          state.up = true;
          state.lastError.clear();
          changed.notify_all();
        }
        error = Run(*stream, reader);
        stream->Shutdown();
        stream.reset();
      }
      SetDown(error.empty() ? "closed" : error);
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait_for(lock, options.timings.reconnect, [&] { return stop; });
      if (stop) return;
    }
  }
};

AdminClient::AdminClient(AdminClientOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->pinFile = impl_->options.pinFile.empty() ? KnownGatewaysPath() : impl_->options.pinFile;
  impl_->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  impl_->io = std::thread([impl = impl_.get()] { impl->Loop(); });
}

AdminClient::~AdminClient() {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->stop = true;
    impl_->changed.notify_all();
  }
  impl_->Wake();
  if (impl_->io.joinable()) impl_->io.join();
  if (impl_->wakeFd >= 0) ::close(impl_->wakeFd);
}

std::optional<std::string> AdminClient::Call(std::uint16_t call, std::string_view args, const AdminCallHooks& hooks) {
  Impl& d = *impl_;
  Slot slot;
  std::uint32_t id;
  std::unique_lock<std::mutex> lock(d.mutex);
  if (!d.state.up) return std::nullopt;
  id = ++d.nextId;
  d.waiting[id] = &slot;
  d.outgoing.push_back(CallFrame(id, call, args));
  d.Wake();
  bool abortSent = false;
  while (true) {
    d.changed.wait_for(lock, milliseconds(50), [&] { return slot.done || !slot.progress.empty(); });
    while (!slot.progress.empty()) {
      std::string step = std::move(slot.progress.front());
      slot.progress.pop_front();
      if (hooks.progress) {
        lock.unlock();
        hooks.progress(step);
        lock.lock();
      }
    }
    if (slot.done) break;
    if (!abortSent && hooks.abort) {
      lock.unlock();
      bool abort = hooks.abort();
      lock.lock();
      if (abort && d.state.up) {
        d.outgoing.push_back(AbortFrame(id));
        d.Wake();
        abortSent = true;
      }
    }
  }
  d.waiting.erase(id);
  if (!slot.ok) return std::nullopt;
  return std::move(slot.result);
}

void AdminClient::DeliverPushes(const std::function<void(AdminPush kind, std::string_view payload)>& handler) {
  Impl& d = *impl_;
  std::deque<std::pair<AdminPush, std::string>> taken;
  std::uint64_t missed = 0;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    taken.swap(d.pushes);
    d.pushBytes = 0;
    std::swap(missed, d.missedLines);
  }
  for (const auto& [kind, payload] : taken) handler(kind, payload);
  if (missed > 0) {
    char text[512];
    std::snprintf(text, sizeof(text), StrC(kMissedLinesText), std::to_string(missed).c_str());
    handler(AdminPush::kMonitorLine, text);
  }
}

AdminLinkState AdminClient::State() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->state;
}

bool AdminClient::WaitUntilUp(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->changed.wait_for(lock, timeout, [&] { return impl_->state.up; });
}

bool AdminClient::WaitUntilDown(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->changed.wait_for(lock, timeout, [&] { return !impl_->state.up && !impl_->state.lastError.empty(); });
}

void AdminClient::Reconnect() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->gaveUp = false;
  impl_->changed.notify_all();
}

}  // namespace brindlex
