// An ftp:// request of a browser, on its own connection of the HTTP port: the
// gateway logs in to the FTP server, opens a data channel (passive, or active
// when the server refuses PASV) and asks for the directory listing (a path
// ending in "/") or the file. What arrives on the data channel goes to the
// browser (ftp/ftp_http_data.h); a reply the dialogue does not expect gives
// the failure page with the server's answer. Worker thread of the connection.
#pragma once

#include <string>
#include <string_view>

namespace brindlex {

struct ConnectionRecord;

// Takes the FTP server's replies in serverIn, one complete line at a time
// (continuation lines of a multi-line reply are dropped unread).
void FtpHttpControl(ConnectionRecord& record);

// Message 425 with its three "%s" replaced, in order, by the host, the
// command and the server's reply, each HTML-escaped; a "%s" beyond the third
// stays as it is, and no other "%" means anything.
std::string FtpFailureText(std::string_view format, std::string_view host, std::string_view command,
                           std::string_view reply);

}  // namespace brindlex
