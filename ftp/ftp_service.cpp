#include "ftp/ftp_service.h"

#include "ftp/ftp_http_control.h"
#include "ftp/ftp_http_data.h"
#include "http/http_request.h"

namespace brindlex {

void RegisterFtpService() {
  RegisterFtpOverHttp(FtpHttpControl);
  RegisterFtpHttpData();
}

}  // namespace brindlex
