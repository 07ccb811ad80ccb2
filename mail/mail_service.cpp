#include "mail/mail_service.h"

#include "mail/pop3_front.h"
#include "mail/smtp_front.h"

namespace brindlex {

void RegisterMailService() {
  RegisterSmtpFront();
  RegisterPop3Front();
}

}  // namespace brindlex
