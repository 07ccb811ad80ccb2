// The data channel of an ftp:// request (service 1): what the FTP server sends
// on it goes to the browser on the control record's connection, a listing as
// the rows of the page "ftp_list.html", a file after the 200 head of string
// 402. Worker thread of the data record; every write into the control
// record happens under the accounts lock.
#pragma once

namespace brindlex {

// Installs the handlers of service 1.
void RegisterFtpHttpData();

}  // namespace brindlex
