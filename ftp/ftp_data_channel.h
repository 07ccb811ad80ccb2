// The data channel of an FTP dialogue: a record of its own (service 1 for an
// ftp:// request, 3 for the FTP proxy) linked to its control record, counted
// against the same user, with its own worker. Worker thread of the control
// record only.
#pragma once

#include <string>
#include <string_view>

#include "ftp/ftp_reply.h"

namespace brindlex {

struct ConnectionRecord;

// The server sends from the port of its 227 (or 229) answer: the data record
// connects there, at the address of the control connection's server (never
// at an address the server names, which would let a server aim the gateway
// at any host). For the FTP proxy the record also listens for the client on
// the gateway's address that faces it, which `listening` gets; it waits
// kPeerWaitSeconds for the client, and only for the control's client. False
// when the record or a socket cannot be had.
bool OpenPassiveChannel(ConnectionRecord& control, int serverPort, DataAddress& listening);

// The server connects to the gateway: the data record listens on the
// gateway's address that faces the server, kPeerWaitSeconds at most, and
// `command` becomes the "PORT h1,h2,h3,h4,p1,p2" naming it (without its line
// end). For the FTP proxy the record first connects to `clientPort` at the
// client's own address, where the client waits for the data. False on
// failure.
bool OpenActiveChannel(ConnectionRecord& control, int clientPort, std::string& command);

// A 257 answer names the directory: it becomes the path (and URL) of the
// control record and of its data record, which the log shows and a listing
// page links below.
void TakeDirectory(ConnectionRecord& control, std::string_view line);

// Unlinks the control record's data record and closes it (under the accounts
// lock): after a failure nothing of it may reach the control's client.
void CloseDataChannel(ConnectionRecord& control);

}  // namespace brindlex
