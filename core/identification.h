// Who a connection belongs to (identification) and whether that user may have
// what it asked for (the access rules). Protocol-free: the handlers turn a
// refusal code into their own reply.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/value_codec.h"

namespace brindlex {

struct ConnectionRecord;

struct UserRecord;

// What a handler knows about the client when it identifies it.
struct Credentials {
  std::uint8_t service = 0;
  Ipv4 clientAddress = kNoAddress;
  std::string_view login;  // proxy authorization, FTP USER, SOCKS5 user
  std::string_view password;
  std::string_view mailAddress;  // SMTP sender, POP3 mailbox owner
  std::string_view portMapUser;  // the user name of a port-mapping rule
};

// Walks the user table (skipping empty logins, deleted and disabled users):
// a login user that matches ends the walk and wins; otherwise the last
// address user of the client address (confirmed by MAC when its password
// field holds one) is taken, but only within its own schedule. Caller holds
// the accounts lock.
UserRecord* IdentifyLocked(const Credentials& credentials);

// The access rules of a user for a connection: 0 when allowed, else the
// refusal code (486 to 497). `documentMode` tests only the document size
// against a known content length (-1: unknown). The caller must not hold the
// accounts lock.
int AccessRefusal(const UserRecord& user, std::uint8_t service, Ipv4 clientAddress, std::string_view url,
                  bool documentMode, std::int64_t contentLength);

// The user a connection is attributed to, or nullptr.
const UserRecord* ConnectionUser(const ConnectionRecord& record);

}  // namespace brindlex
