#include "ftp/ftp_http_control.h"

#include <gtest/gtest.h>

namespace brindlex {
namespace {

TEST(FtpFailureText, TheThreeValuesFillTheMessageInOrderEscaped) {
  EXPECT_EQ(FtpFailureText("Server %s refused \"%s\": %s", "files.example", "RETR /a<b>", "550 No & no"),
            "Server files.example refused \"RETR /a&lt;b&gt;\": 550 No &amp; no");
}

TEST(FtpFailureText, OtherPercentSignsMeanNothing) {
  EXPECT_EQ(FtpFailureText("%d %n %s%s %s %s 100%", "h", "c", "r"), "%d %n hc r %s 100%");
  EXPECT_EQ(FtpFailureText("only %s", "h", "c", "r"), "only h");
  EXPECT_EQ(FtpFailureText("", "h", "c", "r"), "");
}

}  // namespace
}  // namespace brindlex
