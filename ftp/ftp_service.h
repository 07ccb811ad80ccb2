// The FTP service: ftp:// requests of browsers on the HTTP port, the FTP
// proxy on the FTP port, and the data channels of both. Register once on the main thread before the listener
// starts, after the HTTP protocol.
#pragma once

namespace brindlex {

void RegisterFtpService();

}  // namespace brindlex
