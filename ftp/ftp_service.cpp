#include "ftp/ftp_service.h"

#include "ftp/ftp_http_control.h"
#include "ftp/ftp_http_data.h"
#include "ftp/ftp_proxy.h"
#include "http/http_request.h"

namespace brindlex {

void RegisterFtpService() {
  RegisterFtpOverHttp(FtpHttpControl);
  RegisterFtpHttpData();
  RegisterFtpProxy();
}

}  // namespace brindlex
