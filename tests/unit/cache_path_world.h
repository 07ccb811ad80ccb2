// A fixture for the HTTP cache path: the accounts world (program folder,
// manual clock, Default group) plus an empty cache store with caching on and
// page templates, and verbs that play the worker's part on a record: a
// request in kRelay, a response relayed through MoveToClient in pieces,
// the end of the response, and the client reading what was queued or
// streamed to it.
#pragma once

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cache/cache_store.h"
#include "core/connection.h"
#include "core/ini_file.h"
#include "core/program_folder.h"
#include "core/settings.h"
#include "http/http_protocol.h"
#include "http/response_processing.h"
#include "net/relay.h"
#include "tests/unit/account_world.h"

namespace brindlex::testing {

class CachePathWorld : public AccountWorld {
 protected:
  void SetUp() override {
    AccountWorld::SetUp();
    RegisterHttpProtocol();
    ASSERT_TRUE(EnsureFolder(CacheFolder()));
    ASSERT_TRUE(EnsureFolder(WwwrootFolder()));
    std::ofstream(WwwrootFolder() + "/message.html") << "<m>%CONTENT%</m>";
    std::ofstream(WwwrootFolder() + "/restrictions.html") << "<r>%CONTENT%</r>";
    std::ofstream(WwwrootFolder() + "/messages.txt") << "421 not found\n492 too large\n";
    LoadCounters(IniDocument{});
    ResetCacheIndex();
    ChangeSettings([&](SystemSettings& s) { s.EnableCach = true; });
    ProgramTrafficCounters().cacheBytes = 0;
  }
  void TearDown() override {
    for (auto& record : records_) {
      AbandonObject(*record);
      if (record->readFile >= 0) ::close(record->readFile);
    }
    records_.clear();
    ResetCacheIndex();
    AccountWorld::TearDown();
  }

  // A request for `url` that the request step handed to the relay
  // (kRelay) for a local server, so no user is needed.
  ConnectionRecord& Request(const std::string& url, const std::string& host = "origin.test") {
    records_.emplace_back(NewConnection(kServiceHttp));
    ConnectionRecord& r = *records_.back();
    Prepare(r, url, host);
    r.localServer = true;
    return r;
  }
  static void Prepare(ConnectionRecord& r, const std::string& url, const std::string& host) {
    r.state = ConnectionState::kRelay;
    r.url = url;
    r.host = host;
    r.path = url.substr(std::min(url.size(), url.find('/', url.find("//") + 2)));
  }

  // Relays `response` as the worker does: into serverIn at most `piece`
  // bytes at a time, each followed by MoveToClient and the client reading
  // everything queued; then the server closes. Reading stops early when the
  // response processing finished the server side. Returns what reached the
  // client.
  std::string Relay(ConnectionRecord& r, const std::string& response, size_t piece = 8192) {
    std::string received;
    size_t at = 0;
    while (at < response.size() && !r.serverFinished) {
      size_t take = std::min({piece, response.size() - at, static_cast<size_t>(kBufferSize - r.serverInLength)});
      std::memcpy(r.serverIn + r.serverInLength, response.data() + at, take);
      r.serverInLength += static_cast<int>(take);
      at += take;
      int before = r.serverInLength;
      MoveToClient(r, r.serverIn, r.serverInLength);
      received += ClientReads(r);
      if (take == 0 && r.serverInLength == before) break;  // held back for good
    }
    r.serverFinished = r.serverEof = true;
    if (r.serverInLength > 0) {
      MoveToClient(r, r.serverIn, r.serverInLength);
      received += ClientReads(r);
    }
    return received;
  }
  // The server closed and serverIn is drained (worker step 10).
  static void EndOfResponse(ConnectionRecord& r) {
    if (r.serverInLength == 0) FinishObject(r);
  }

  // The client reads all that is queued for it.
  static std::string ClientReads(ConnectionRecord& r) {
    std::string bytes(r.clientOut.get(), static_cast<size_t>(r.clientOutLength));
    r.clientOutLength = 0;
    return bytes;
  }
  // The worker streams readFile until it is done; the client reads it all.
  static std::string ClientReadsStream(ConnectionRecord& r) {
    std::string bytes = ClientReads(r);
    for (int guard = 0; r.readFile >= 0 && guard < 100000; ++guard) {
      StreamReadFile(r);
      bytes += ClientReads(r);
    }
    return bytes;
  }

  // A whole response relayed and finished; returns what the client got.
  std::string Fetch(ConnectionRecord& r, const std::string& response, size_t piece = 8192) {
    std::string received = Relay(r, response, piece);
    EndOfResponse(r);
    return received;
  }

  std::vector<std::unique_ptr<ConnectionRecord>> records_;
};

}  // namespace brindlex::testing
