#include "reports/smtp_client.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <curl/curl.h>
#include <mutex>
#include <string_view>

namespace brindlex {

namespace {

constexpr long kConnectSeconds = 15;
constexpr long kResponseSeconds = 15;
constexpr long kMessageSeconds = 25;  // the whole of one message

void InitialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string UrlOf(CURL* curl, const SmtpServer& server) {
  std::string host = server.host.find(':') != std::string::npos ? "[" + server.host + "]" : server.host;
  std::string identity;
  if (char* escaped = curl_easy_escape(curl, server.identity.data(), static_cast<int>(server.identity.size()))) {
    identity = escaped;
    curl_free(escaped);
  }
  return "smtp://" + host + ":" + std::to_string(server.port) + "/" + identity;
}

class CurlSmtpClient final : public SmtpClient {
 public:
  explicit CurlSmtpClient(const std::atomic<bool>& stop) : stop_(stop) { InitialiseCurlOnce(); }
  ~CurlSmtpClient() override { Close(); }
  CurlSmtpClient(const CurlSmtpClient&) = delete;
  CurlSmtpClient& operator=(const CurlSmtpClient&) = delete;

  bool Send(const SmtpServer& server, const SmtpEnvelope& envelope, const SmtpEventHandler& onEvent) override;
  bool Connected() const override { return connected_; }
  void Disconnect(const SmtpEventHandler& onEvent) override {
    Close();
    onEvent(SmtpEvent::kDisconnected, {});
  }

 private:
  // Ends the connection (libcurl says QUIT when it is still open).
  void Close() {
    if (curl_) curl_easy_cleanup(curl_);
    curl_ = nullptr;
    connected_ = false;
  }

  static curl_socket_t OpenSocket(void* self, curlsocktype, curl_sockaddr* address);
  static int BeforeRequest(void* self, char*, char*, int, int);
  static int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* self);
  static size_t ReadBody(char* buffer, size_t size, size_t count, void* self);
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

  const std::atomic<bool>& stop_;
  CURL* curl_ = nullptr;
  bool connected_ = false;

  // The message under way.
  const SmtpEventHandler* onEvent_ = nullptr;
  std::string_view body_;
  bool newConnection_ = false;
  bool reachedServer_ = false;
  std::string pendingRecipient_;  // RCPT sent, its answer not yet seen
};

curl_socket_t CurlSmtpClient::OpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
  auto* client = static_cast<CurlSmtpClient*>(self);
  if (!client->newConnection_) (*client->onEvent_)(SmtpEvent::kResolved, {});
  client->newConnection_ = true;
  // Programs the gateway starts must not inherit the connection.
  return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

int CurlSmtpClient::BeforeRequest(void* self, char*, char*, int, int) {
  auto* client = static_cast<CurlSmtpClient*>(self);
  client->reachedServer_ = true;
  if (client->newConnection_) (*client->onEvent_)(SmtpEvent::kConnected, {});
  (*client->onEvent_)(SmtpEvent::kTransferStarted, {});
  return CURL_PREREQFUNC_OK;
}

// The dialogue as it passes: a refused recipient is known only from the
// answer to its RCPT command.
int CurlSmtpClient::OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
  auto* client = static_cast<CurlSmtpClient*>(self);
  if (!client->onEvent_) return 0;  // the QUIT of Close()
  std::string_view text(data, size);
  constexpr std::string_view kRcpt = "RCPT TO:<";
  if (type == CURLINFO_HEADER_OUT && text.starts_with(kRcpt)) {
    text.remove_prefix(kRcpt.size());
    client->pendingRecipient_ = std::string(text.substr(0, text.find('>')));
  } else if (type == CURLINFO_HEADER_IN && !client->pendingRecipient_.empty()) {
    if (!text.starts_with("2")) (*client->onEvent_)(SmtpEvent::kRecipientRefused, client->pendingRecipient_);
    client->pendingRecipient_.clear();
  }
  return 0;
}

size_t CurlSmtpClient::ReadBody(char* buffer, size_t size, size_t count, void* self) {
  auto* client = static_cast<CurlSmtpClient*>(self);
  size_t n = std::min(size * count, client->body_.size());
  std::memcpy(buffer, client->body_.data(), n);
  client->body_.remove_prefix(n);
  return n;
}

int CurlSmtpClient::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<CurlSmtpClient*>(self)->stop_.load() ? 1 : 0;
}

bool CurlSmtpClient::Send(const SmtpServer& server, const SmtpEnvelope& envelope, const SmtpEventHandler& onEvent) {
  if (!curl_) curl_ = curl_easy_init();
  if (!curl_) {
    onEvent(SmtpEvent::kConnectionFailed, {});
    return false;
  }
  onEvent_ = &onEvent;
  body_ = envelope.message;
  newConnection_ = false;
  reachedServer_ = false;
  pendingRecipient_.clear();

  curl_slist* recipients = nullptr;
  for (const std::string& address : envelope.recipients)
    recipients = curl_slist_append(recipients, ("<" + address + ">").c_str());
  std::string url = UrlOf(curl_, server);
  std::string from = "<" + envelope.senderAddress + ">";

  // The options are set afresh for each message; the open connection stays.
  curl_easy_reset(curl_);
  curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "smtp");
  curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
  curl_easy_setopt(curl_, CURLOPT_SERVER_RESPONSE_TIMEOUT, kResponseSeconds);
  curl_easy_setopt(curl_, CURLOPT_TIMEOUT, kMessageSeconds);
  curl_easy_setopt(curl_, CURLOPT_MAIL_FROM, from.c_str());
  curl_easy_setopt(curl_, CURLOPT_MAIL_RCPT, recipients);
  curl_easy_setopt(curl_, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(envelope.message.size()));
  curl_easy_setopt(curl_, CURLOPT_READFUNCTION, &CurlSmtpClient::ReadBody);
  curl_easy_setopt(curl_, CURLOPT_READDATA, this);
  curl_easy_setopt(curl_, CURLOPT_OPENSOCKETFUNCTION, &CurlSmtpClient::OpenSocket);
  curl_easy_setopt(curl_, CURLOPT_OPENSOCKETDATA, this);
  curl_easy_setopt(curl_, CURLOPT_PREREQFUNCTION, &CurlSmtpClient::BeforeRequest);
  curl_easy_setopt(curl_, CURLOPT_PREREQDATA, this);
  curl_easy_setopt(curl_, CURLOPT_DEBUGFUNCTION, &CurlSmtpClient::OnDebug);
  curl_easy_setopt(curl_, CURLOPT_DEBUGDATA, this);
  curl_easy_setopt(curl_, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &CurlSmtpClient::OnProgress);
  curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, this);

  CURLcode result = curl_easy_perform(curl_);
  curl_slist_free_all(recipients);
  onEvent_ = nullptr;
  connected_ = result == CURLE_OK;
  if (result == CURLE_OK) {
    onEvent(SmtpEvent::kMessageSent, {});
    return true;
  }
  if (result == CURLE_COULDNT_RESOLVE_HOST)
    onEvent(SmtpEvent::kServerNotFound, {});
  else if (!reachedServer_)
    onEvent(SmtpEvent::kConnectionFailed, {});
  else
    onEvent(SmtpEvent::kTransferFailed, {});
  return false;
}

}  // namespace

std::unique_ptr<SmtpClient> MakeSmtpClient(const std::atomic<bool>& stop) {
  return std::make_unique<CurlSmtpClient>(stop);
}

}  // namespace brindlex
