#include "ftp/ftp_data_channel.h"

#include <mutex>

#include "core/accounting.h"
#include "core/connection.h"
#include "core/process_state.h"
#include "core/sessions.h"
#include "ftp/ftp_reply.h"
#include "http/http_cache.h"
#include "net/socket_util.h"
#include "net/upstream.h"
#include "net/worker.h"

namespace brindlex {

namespace {

constexpr const char* kDataMethod = "FTP_DATA";

bool LocalAddressOf(int socket, Ipv4& address) {
  std::uint16_t unused = 0;
  return LocalAddress(socket, address, unused);
}

// A new data record linked to `control`, in the connection list and
// attached to the control's user, not started yet.
ConnectionRecord* NewDataRecord(ConnectionRecord& control) {
  ConnectionRecord* data = NewConnection(static_cast<std::uint8_t>(control.service + 1));
  // The data record of an ftp:// request writes into this record's client
  // output from its own thread from now on.
  if (control.service == kServiceHttp) {
    control.clientOutShared = true;
    data->noStore = !ListingCacheable(control);
  }
  std::lock_guard<std::mutex> lock(AccountsLock());
  // An earlier channel still running goes on alone: freeing it must not
  // unlink the new one.
  if (control.dataRecord) control.dataRecord->controlRecord = nullptr;
  control.dataRecord = data;
  data->controlRecord = &control;
  ConnectionListLocked().push_back(data);
  data->localServer = control.localServer;
  data->host = control.host;
  data->url = control.url;
  data->path = control.path;
  data->proxyLogin = control.proxyLogin;
  data->proxyPassword = control.proxyPassword;
  data->clientAddress = control.clientAddress;
  data->method = kDataMethod;
  // A connection of its own in the client's session: counted, shown and
  // logged apart from its control connection, for the same user.
  data->sessionRecord = FindOrCreateSessionLocked(control.clientAddress);
  AttachLocked(*data, control.userSession ? control.userSession->user : nullptr);
  return data;
}

// A record that could not be opened still goes through its worker, which
// frees it like any other; the control hears nothing more of it.
void Abandon(ConnectionRecord& control, ConnectionRecord* data) {
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    if (control.dataRecord == data) control.dataRecord = nullptr;
    data->controlRecord = nullptr;
  }
  Close(*data);
  StartWorker(data);
}

}  // namespace

bool OpenPassiveChannel(ConnectionRecord& control, int serverPort, DataAddress& listening) {
  ConnectionRecord* data = NewDataRecord(control);
  data->serverAddress = control.serverAddress;
  data->serverPort = serverPort;
  if (ConnectUpstream(*data) != UpstreamResult::kConnected) {
    Abandon(control, data);
    return false;
  }
  if (control.service == kServiceFtpControl) {
    Ipv4 facing = kNoAddress;
    int port = 0;
    if (!LocalAddressOf(control.clientSocket, facing) ||
        (data->clientSocket = OpenSingleAcceptSocket(facing, port)) < 0) {
      Abandon(control, data);
      return false;
    }
    data->clientAcceptPending = true;
    // Nobody may hold a data record, and its connection to the server, by
    // asking for ports it never uses.
    AwaitPeer(*data);
    listening.address = facing;
    listening.port = port;
  }
  return StartWorker(data);
}

bool OpenActiveChannel(ConnectionRecord& control, int clientPort, std::string& command) {
  Ipv4 facing = kNoAddress;
  if (!LocalAddressOf(control.serverSocket, facing)) return false;
  ConnectionRecord* data = NewDataRecord(control);
  if (control.service == kServiceFtpControl && !ConnectClientSide(*data, control.clientAddress, clientPort)) {
    Abandon(control, data);
    return false;
  }
  int port = 0;
  data->serverSocket = OpenSingleAcceptSocket(facing, port);
  if (data->serverSocket < 0) {
    Abandon(control, data);
    return false;
  }
  data->serverAcceptPending = true;
  AwaitPeer(*data);
  command = "PORT " + FormatAddressNumbers(facing, port);
  return StartWorker(data);
}

void TakeDirectory(ConnectionRecord& control, std::string_view line) {
  control.path = DirectoryOf257(line);
  control.url = "ftp://" + control.host + control.path;
  std::lock_guard<std::mutex> lock(AccountsLock());
  if (ConnectionRecord* data = control.dataRecord) {
    data->path = control.path;
    data->url = control.url;
  }
}

void CloseDataChannel(ConnectionRecord& control) {
  std::lock_guard<std::mutex> lock(AccountsLock());
  ConnectionRecord* data = control.dataRecord;
  if (!data) return;
  data->controlRecord = nullptr;
  control.dataRecord = nullptr;
  Close(*data);
}

}  // namespace brindlex
