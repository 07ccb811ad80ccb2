// The data channel of an FTP dialogue: a record of its own (service 1 for an
// ftp:// request, 3 for the FTP proxy) linked to its control record, counted
// against the same user, with its own worker. Worker thread of the control
// record only.
#pragma once

#include <string>

namespace brindlex {

struct ConnectionRecord;

// The server sends from the port of its 227 answer: the data record connects
// there, at the address of the control connection's server (never at an
// address the server names, which would let a server aim the gateway at any
// host). False when the record or the connection cannot be had.
bool OpenPassiveChannel(ConnectionRecord& control, int serverPort);

// The server connects to the gateway: the data record listens on the
// gateway's address that faces the server, and `command` becomes the
// "PORT h1,h2,h3,h4,p1,p2" naming it (without its line end). False on
// failure.
bool OpenActiveChannel(ConnectionRecord& control, std::string& command);

// Unlinks the control record's data record and closes it (under the accounts
// lock): after a failure nothing of it may reach the control's client.
void CloseDataChannel(ConnectionRecord& control);

}  // namespace brindlex
