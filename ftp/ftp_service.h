// The FTP service: ftp:// requests of browsers on the HTTP port and their
// data channels. Register once on the main thread before the listener
// starts, after the HTTP protocol.
#pragma once

namespace brindlex {

void RegisterFtpService();

}  // namespace brindlex
