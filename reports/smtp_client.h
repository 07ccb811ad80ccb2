// The SMTP client the report sender uses: one per batch, its connection kept
// from one message to the next, the dialogue's progress and failures raised
// as events. The libcurl client runs on the sender's worker thread; the
// interface lets tests stand in for the server.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace brindlex {

enum class SmtpEvent {
  kConnected,         // a connection to the server is up
  kResolved,          // the server's name was resolved
  kTransferStarted,   // the dialogue for a message began
  kConnectionFailed,  // the server could not be reached or did not greet
  kServerNotFound,    // the server's name does not resolve
  kTransferFailed,    // the dialogue broke off or the server refused
  kRecipientRefused,  // the server refused a recipient (detail: the address)
  kMessageSent,       // the server took the message
  kDisconnected,      // the connection was ended
};
using SmtpEventHandler = std::function<void(SmtpEvent event, const std::string& detail)>;

struct SmtpServer {
  std::string host;
  int port = 25;
  std::string identity;  // given in the greeting
};

struct SmtpEnvelope {
  std::string senderAddress;
  std::vector<std::string> recipients;
  std::string message;  // headers and body, CRLF line ends
};

class SmtpClient {
 public:
  virtual ~SmtpClient() = default;
  // Sends one message, connecting first when there is no connection to this
  // server. True when the server took it; a failure has raised its event.
  virtual bool Send(const SmtpServer& server, const SmtpEnvelope& envelope, const SmtpEventHandler& onEvent) = 0;
  // Whether a connection is open (after a message was sent on it).
  virtual bool Connected() const = 0;
  // Ends the connection with QUIT and raises kDisconnected.
  virtual void Disconnect(const SmtpEventHandler& onEvent) = 0;
};

// The client over libcurl. Each step of a dialogue has a time limit below the
// sender's own, so a silent server ends as a failure of the message. Once
// `stop` is set, a dialogue under way is abandoned.
std::unique_ptr<SmtpClient> MakeSmtpClient(const std::atomic<bool>& stop);

}  // namespace brindlex
