#include "ftp/ftp_http_data.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "core/accounting.h"
#include "core/chars.h"
#include "core/connection.h"
#include "core/process_state.h"
#include "core/strings.h"
#include "ftp/ftp_listing.h"
#include "ftp/ftp_reply.h"
#include "http/http_cache.h"
#include "http/response_processing.h"
#include "http/template.h"
#include "net/protocol_handlers.h"
#include "net/relay.h"

namespace brindlex {

namespace {

constexpr const char* kListingPage = "ftp_list.html";
constexpr int kFileHead = 402;
// How far the browser's output may fill with what this record passes on.
constexpr int kOutputMax = 64 * kBufferSize;

// Queues text for the browser; nothing once the control record is gone.
void QueueToControl(ConnectionRecord& data, std::string_view text) {
  std::lock_guard<std::mutex> lock(AccountsLock());
  if (ConnectionRecord* control = data.controlRecord) QueueToClient(*control, text);
}

// The control record sets the state of a file transfer just before it asks
// for the file.
ConnectionState StateOf(const ConnectionRecord& data) {
  std::lock_guard<std::mutex> lock(AccountsLock());
  return data.state;
}

void SetState(ConnectionRecord& data, ConnectionState state) {
  std::lock_guard<std::mutex> lock(AccountsLock());
  data.state = state;
}

// The page of a cacheable listing is also written as the answer to its
// directory's URL (the record's url, the directory the server named).
void ToBrowser(ConnectionRecord& data, std::string_view text) {
  QueueToControl(data, text);
  if (!data.noStore) ProcessResponse(data, text.data(), static_cast<int>(text.size()));
}

void StartListing(ConnectionRecord& data) {
  std::string head;
  FillTemplate(data, kListingPage, head, &data.pageTail);
  ToBrowser(data, head);
  SetState(data, ConnectionState::kHttpFtpListing);
}

// The complete lines of serverIn become rows; a cut-off last line waits for
// the rest of it, and all of them wait while the browser's output is full.
void ListingLines(ConnectionRecord& data) {
  std::string path;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    ConnectionRecord* control = data.controlRecord;
    if (control && control->clientOutLength >= kOutputMax) return;
    path = data.path;
  }
  int kbPerMb = static_cast<int>(BytesPerMb() / 1024);
  std::string rows;
  size_t at = 0;
  std::string_view in(data.serverIn, static_cast<size_t>(data.serverInLength));
  while (size_t length = FirstLineLength(in.substr(at))) {
    if (auto entry = ParseListingLine(in.substr(at, length))) rows += ListingRow(*entry, path, kbPerMb);
    at += length;
  }
  // A line longer than the buffer never completes: it is no entry.
  if (at == 0 && data.serverInLength == kBufferSize) at = kBufferSize;
  DropServerInput(data, at);
  ToBrowser(data, rows);
}

// As much of the file as the browser's output has room for; the rest waits.
// The output may grow to kOutputMax: its worker sends from it as soon as
// the browser takes more, while this record learns of the room only at its
// next pass, so one buffer's worth per pass would hold a download to a few
// dozen kilobytes a second.
void FileBytes(ConnectionRecord& data) {
  std::lock_guard<std::mutex> lock(AccountsLock());
  ConnectionRecord* control = data.controlRecord;
  int room = control ? kOutputMax - control->clientOutLength : data.serverInLength;
  int moved = std::clamp(room, 0, data.serverInLength);
  if (control) QueueToClient(*control, data.serverIn, static_cast<size_t>(moved));
  DropServerInput(data, static_cast<size_t>(moved));
}

void ServerInput(ConnectionRecord& data) {
  switch (StateOf(data)) {
    case ConnectionState::kHttpFtpData:
      StartListing(data);
      ListingLines(data);
      return;
    case ConnectionState::kHttpFtpListing:
      ListingLines(data);
      return;
    case ConnectionState::kHttpFtpFileStart:
      QueueToControl(data, Str(kFileHead));
      SetState(data, ConnectionState::kHttpFtpFile);
      FileBytes(data);
      return;
    case ConnectionState::kHttpFtpFile:
      FileBytes(data);
      return;
    default:
      data.serverInLength = 0;
      return;
  }
}

// The server closed the channel and everything it sent has gone on. An empty
// directory or file sent no bytes at all, but still gets its page or head. A
// listing cut short is never stored: it would be served as the whole
// directory.
void AnswerEnded(ConnectionRecord& data, bool clean) {
  if (!clean) {
    AbandonObject(data);
    return;
  }
  switch (StateOf(data)) {
    case ConnectionState::kHttpFtpData:
      StartListing(data);
      [[fallthrough]];
    case ConnectionState::kHttpFtpListing:
      ToBrowser(data, data.pageTail);
      FinishObject(data);
      return;
    case ConnectionState::kHttpFtpFileStart:
      QueueToControl(data, Str(kFileHead));
      SetState(data, ConnectionState::kHttpFtpFile);
      return;
    default:
      return;
  }
}

}  // namespace

void RegisterFtpHttpData() {
  ProtocolHandlers handlers;
  handlers.serverInput = ServerInput;
  handlers.answerEnded = AnswerEnded;
  RegisterProtocolHandlers(kServiceHttpFtpData, handlers);
}

}  // namespace brindlex
