// ftp:// URLs through the HTTP port against a real FTP server on loopback:
// directory listings as HTML rows, files byte-exact after the 200 head, the
// URL's credentials, active mode when the server refuses PASV, the failure
// page, URLs whose decoded parts would inject commands, and listings kept in
// the cache.
#include <gtest/gtest.h>
#include <string>
#include <string_view>

#include "tests/integration/ftp_origin.h"
#include "tests/integration/harness.h"

namespace brindlex::testing {
namespace {

const std::string kLocal = "LocalHosts=127.0.0.1\r\n";
const std::string kFileHead = "HTTP/1.0 200 OK\r\nPragma: no-cach\r\n\r\n";

class FtpHttpTest : public ::testing::Test {
 protected:
  void StartServer(FtpOrigin::Passive passive = FtpOrigin::Passive::kNormal) {
    origin_.MakeFolder("pub/docs");
    origin_.Serve("pub/readme.txt", std::string(2048, 'r'));
    origin_.Serve("pub/file.bin", file_);
    ASSERT_TRUE(origin_.Start(passive)) << origin_.Log();
  }
  std::string Url(const std::string& path, const std::string& credentials = "") const {
    return "ftp://" + credentials + "127.0.0.1:" + std::to_string(origin_.port()) + path;
  }
  std::string Get(const ProxyGateway& gateway, const std::string& url) const {
    return gateway.Exchange("GET " + url + " HTTP/1.0\r\n\r\n");
  }

  FtpOrigin origin_;
  const std::string file_ = RandomBytes(2000000);
};

std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

int Count(std::string_view text, std::string_view part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(FtpHttpTest, ADirectoryIsListedAsRowsOfThePage) {
  StartServer();
  ProxyGateway gateway(kLocal);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  int rc = -1;
  std::string page = Curl(gateway.Proxy(), Url("/pub/"), &rc, "-i");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(StatusLine(page), "HTTP/1.0 200 OK") << page;
  EXPECT_NE(page.find("<a href=\"/pub/docs/\">[docs]</A>" + std::string(34, ' ') + "Directory"), std::string::npos)
      << page;
  EXPECT_NE(page.find("<a href=\"/pub/readme.txt\">readme.txt</A>" + std::string(30, ' ') + "       2K"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("</html>"), std::string::npos) << "the tail of the page follows the rows: " << page;
  EXPECT_NE(origin_.Log().find("USER 'anonymous' logged in"), std::string::npos) << origin_.Log();
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(FtpHttpTest, AnEmptyDirectoryStillGetsItsPage) {
  StartServer();
  ProxyGateway gateway(kLocal);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  std::string page = Get(gateway, Url("/pub/docs/"));
  EXPECT_EQ(StatusLine(page), "HTTP/1.0 200 OK") << page;
  EXPECT_NE(page.find("</html>"), std::string::npos) << page;
  EXPECT_EQ(page.find("<a href=\"/pub/docs/"), std::string::npos) << page;
}

TEST_F(FtpHttpTest, AFileArrivesByteExactAfterTheHead) {
  StartServer();
  ProxyGateway gateway(kLocal);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  std::string answer = Get(gateway, Url("/pub/file.bin"));
  ASSERT_EQ(answer.size(), kFileHead.size() + file_.size()) << answer.substr(0, 400);
  EXPECT_EQ(answer.substr(0, kFileHead.size()), kFileHead);
  EXPECT_TRUE(answer.substr(kFileHead.size()) == file_);
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(FtpHttpTest, TheUrlsCredentialsLogIn) {
  StartServer();
  ProxyGateway gateway(kLocal);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  int rc = -1;
  EXPECT_EQ(Curl(gateway.Proxy(), Url("/pub/readme.txt", "alice:s%65cret@"), &rc), std::string(2048, 'r'));
  EXPECT_NE(origin_.Log().find("USER 'alice' logged in"), std::string::npos) << origin_.Log();

  // A wrong password: the server's refusal is on the failure page, the
  // password is not.
  std::string page = Get(gateway, Url("/pub/readme.txt", "alice:wrong@"));
  EXPECT_EQ(StatusLine(page), "HTTP/1.0 200 OK") << page;
  EXPECT_NE(page.find("PASS ***"), std::string::npos) << page;
  EXPECT_EQ(page.find("wrong"), std::string::npos) << page;
  EXPECT_NE(page.find("530 Authentication failed."), std::string::npos) << page;
}

TEST_F(FtpHttpTest, AServerThatRefusesPassiveModeIsUsedInActiveMode) {
  StartServer(FtpOrigin::Passive::kRefused);
  ProxyGateway gateway(kLocal);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  std::string answer = Get(gateway, Url("/pub/file.bin"));
  ASSERT_EQ(answer.size(), kFileHead.size() + file_.size()) << answer.substr(0, 400) << origin_.Log();
  EXPECT_TRUE(answer.substr(kFileHead.size()) == file_);
  std::string page = Get(gateway, Url("/pub/"));
  EXPECT_NE(page.find("[docs]</A>"), std::string::npos) << page;
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(FtpHttpTest, APassiveAnswerNamingAnotherHostStillConnectsToTheServer) {
  StartServer(FtpOrigin::Passive::kElsewhere);
  ProxyGateway gateway(kLocal);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  std::string answer = Get(gateway, Url("/pub/file.bin"));
  ASSERT_EQ(answer.size(), kFileHead.size() + file_.size()) << answer.substr(0, 400);
  EXPECT_TRUE(answer.substr(kFileHead.size()) == file_);
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(FtpHttpTest, ARefusedCommandGivesTheFailurePage) {
  StartServer();
  ProxyGateway gateway(kLocal);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  std::string page = Get(gateway, Url("/pub/nothing<b>.txt"));
  EXPECT_EQ(StatusLine(page), "HTTP/1.0 200 OK") << page;
  EXPECT_NE(page.find("RETR /pub/nothing&lt;b&gt;.txt"), std::string::npos) << "escaped: " << page;
  EXPECT_NE(page.find("550 "), std::string::npos) << page;
  page = Get(gateway, Url("/nowhere/"));
  EXPECT_NE(page.find("CWD /nowhere/"), std::string::npos) << page;
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(FtpHttpTest, LineBreaksOrNulInTheDecodedUrlRefuseTheRequest) {
  StartServer();
  ProxyGateway gateway(kLocal);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  for (const std::string& url : {Url("/pub/x%0d%0aDELE%20readme.txt"), Url("/pub/x%00y"),
                                 Url("/pub/", "anonymous%0aPASS%20x:y@"), Url("/pub/", "a:b%0d@")}) {
    EXPECT_EQ(StatusLine(Get(gateway, url)), "HTTP/1.0 400 Bad Request") << url;
  }
  EXPECT_EQ(origin_.Log().find("DELE"), std::string::npos) << origin_.Log();
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(FtpHttpTest, AnAnonymousListingIsServedFromTheCache) {
  StartServer();
  ProxyGateway gateway(kLocal + "EnableCach=1\r\nCachLocalHosts=1\r\nCachFtpDir=1\r\n");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  std::string first = Get(gateway, Url("/pub/"));
  ASSERT_NE(first.find("[docs]</A>"), std::string::npos) << first;
  origin_.Serve("pub/later.txt", "x");

  // The second page is the stored one: the server is not asked again, and
  // the file that came meanwhile is not on it.
  std::string second = Get(gateway, Url("/pub/"));
  EXPECT_EQ(StatusLine(second), "HTTP/1.0 200 OK") << second;
  EXPECT_NE(second.find("\r\nAge: "), std::string::npos) << second;
  EXPECT_NE(second.find("[docs]</A>"), std::string::npos) << second;
  EXPECT_NE(second.find("</html>"), std::string::npos) << second;
  EXPECT_EQ(second.find("later.txt"), std::string::npos) << second;
  EXPECT_EQ(Count(origin_.Log(), "logged in"), 1) << origin_.Log();

  // A login of the URL sees the server itself, and its listing is not stored
  // for anyone else.
  std::string own = Get(gateway, Url("/pub/", "alice:secret@"));
  EXPECT_NE(own.find("later.txt"), std::string::npos) << own;
  EXPECT_EQ(Count(origin_.Log(), "logged in"), 2) << origin_.Log();
  EXPECT_EQ(Get(gateway, Url("/pub/")).find("later.txt"), std::string::npos);

  // A file is never taken from the cache.
  EXPECT_EQ(Get(gateway, Url("/pub/later.txt")), kFileHead + "x");
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(FtpHttpTest, WithoutTheListingSwitchEveryListingAsksTheServer) {
  StartServer();
  ProxyGateway gateway(kLocal + "EnableCach=1\r\nCachLocalHosts=1\r\n");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  Get(gateway, Url("/pub/"));
  origin_.Serve("pub/later.txt", "x");
  EXPECT_NE(Get(gateway, Url("/pub/")).find("later.txt"), std::string::npos);
  EXPECT_EQ(Count(origin_.Log(), "logged in"), 2) << origin_.Log();
}

}  // namespace
}  // namespace brindlex::testing
