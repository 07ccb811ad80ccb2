#include "net/listener.h"

#include <gtest/gtest.h>

namespace brindlex {
namespace {

TEST(ChangedServices, OnlyServicesWhosePortsDifferAreReopened) {
  SystemSettings before;
  EXPECT_EQ(ChangedServices(before, before), 0);

  SystemSettings after = before;
  after.HttpPort = "8080;0;3128";  // the same list: it stops at the 0
  after.CorrectTraffic = 5;
  EXPECT_EQ(ChangedServices(before, after), 0);
  after.HttpPort = "8081";
  EXPECT_EQ(ChangedServices(before, after), kReopenHttp);
  after = before;
  after.EnableHTTP = false;
  EXPECT_EQ(ChangedServices(before, after), kReopenHttp);

  after = before;
  after.FtpPort = 2121;  // FTP is off: nothing to move
  after.Socks5Port = 1081;
  EXPECT_EQ(ChangedServices(before, after), 0);
  after.EnableFtp = true;
  EXPECT_EQ(ChangedServices(before, after), kReopenFtp);
  before.EnableFtp = true;
  before.FtpPort = 2121;
  EXPECT_EQ(ChangedServices(before, after), 0);

  after = before;
  after.EnablePost = true;
  EXPECT_EQ(ChangedServices(before, after), kReopenSmtp | kReopenPop3);
  before.EnablePost = true;
  after.Pop3Port = 1110;
  EXPECT_EQ(ChangedServices(before, after), kReopenPop3);
  after = before;
  after.EnableSocks5 = true;
  EXPECT_EQ(ChangedServices(before, after), kReopenSocks5);
}

}  // namespace
}  // namespace brindlex
