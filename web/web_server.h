// The built-in web server: requests a browser sends through the HTTP port to
// the gateway itself are answered from the web root (wwwroot in the program
// folder). Pages at the root are templates filled for the requesting user,
// files elsewhere are sent as they are, "exe" files are programs whose output
// is the page, "admin/" is for administrators only, and /proxy.pac and
// /wpad.dat configure a browser for the gateway. Answers are never counted
// or cached, and each ends its connection. Worker thread of the connection.
#pragma once

namespace brindlex {

struct ConnectionRecord;

// Answers a request for which IsGatewayRequest (http/local_server.h) holds,
// from the request step.
void ServeWebRequest(ConnectionRecord& record);

// Makes the request step hand gateway requests to ServeWebRequest. Main
// thread, at start-up before the listener starts.
void RegisterWebServer();

}  // namespace brindlex
