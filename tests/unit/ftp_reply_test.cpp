#include "ftp/ftp_reply.h"

#include <gtest/gtest.h>
#include <string>

namespace brindlex {
namespace {

TEST(FtpReply, TheCodeIsTheNumberBeforeABlank) {
  EXPECT_EQ(ReplyCode("220 Service ready\r\n"), 220);
  EXPECT_EQ(ReplyCode("230 \n"), 230);
  EXPECT_EQ(ReplyCode("5 x"), 5);
  EXPECT_EQ(ReplyCode("220-Welcome\r\n"), -1) << "a continuation line is no reply";
  EXPECT_EQ(ReplyCode("  220 indented\r\n"), -1);
  EXPECT_EQ(ReplyCode("220\r\n"), -1);
  EXPECT_EQ(ReplyCode("220"), -1) << "nothing is read past the end";
  EXPECT_EQ(ReplyCode(""), -1);
  EXPECT_EQ(ReplyCode("Welcome to the server\r\n"), -1);
  EXPECT_EQ(ReplyCode("99999999999999 overflow\r\n"), -1);
  EXPECT_EQ(ReplyCode("123456789 nine digits\r\n"), 123456789);
}

TEST(FtpReply, ThePassiveAnswerGivesAddressAndPort) {
  auto a = ParsePassiveAnswer("227 Entering Passive Mode (192,168,1,2,19,136).\r\n");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->address, 0xC0A80102u);
  EXPECT_EQ(a->port, 5000);
  a = ParsePassiveAnswer("227 =(127,0,0,1,255,255)");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->port, 65535);
  a = ParsePassiveAnswer("227 ( 10, 0, 0, 1, 0, 21)\r\n");
  ASSERT_TRUE(a) << "blanks before a number are allowed";
  EXPECT_EQ(a->address, 0x0A000001u);
  EXPECT_EQ(a->port, 21);
}

TEST(FtpReply, AMalformedPassiveAnswerGivesNoAddress) {
  for (const char* line : {
           "227 Entering Passive Mode 192,168,1,2,19,136\r\n",  // no "("
           "227 Entering\r\n(192,168,1,2,19,136)",              // "(" only after the line end
           "227 (192,168,1,2,19)\r\n",                          // five numbers
           "227 (192,168,1,2,19,",                              // cut off
           "227 (256,168,1,2,19,136)\r\n",                      // a number above 255
           "227 (1921,168,1,2,19,136)\r\n",                     // four digits
           "227 (192,168,1,2,0,0)\r\n",                         // port 0
           "227 (0,0,0,0,19,136)\r\n",                          // no host
           "227 (192;168;1;2;19;136)\r\n",
           "227 (192,168,1,2,-19,136)\r\n",
           "227 (,,,,,)\r\n",
           "227 (",
       }) {
    EXPECT_FALSE(ParsePassiveAnswer(line)) << line;
  }
}

TEST(FtpReply, ThePortArgumentNamesAddressAndPort) {
  auto a = ParsePortArgument(" 127,0,0,1,19,136\r\n");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->address, 0x7F000001u);
  EXPECT_EQ(a->port, 5000);
  EXPECT_FALSE(ParsePortArgument("127,0,0,1,0,0\r\n"));
  EXPECT_FALSE(ParsePortArgument("127,0,0,1,300,1\r\n"));
  EXPECT_FALSE(ParsePortArgument("127.0.0.1:5000\r\n"));
  EXPECT_FALSE(ParsePortArgument(""));
  EXPECT_FALSE(ParsePortArgument("255,255,255,255,1,1")) << "the broadcast address is no data peer";
}

TEST(FtpReply, TheExtendedPassiveAnswerGivesThePort) {
  EXPECT_EQ(ParseExtendedPassiveAnswer("229 Entering Extended Passive Mode (|||6446|)\r\n"), 6446);
  EXPECT_EQ(ParseExtendedPassiveAnswer("229 (!!!1!)"), 1) << "any delimiter, the same four times";
  EXPECT_EQ(ParseExtendedPassiveAnswer("229 (~~~65535~)\r\n"), 65535);
  EXPECT_EQ(ParseExtendedPassiveAnswer("229 ok (|||21|) (|||22|)\r\n"), 21) << "from the first \"(\"";
}

TEST(FtpReply, AMalformedExtendedPassiveAnswerGivesNoPort) {
  for (const char* line : {
           "229 Entering Extended Passive Mode |||6446|\r\n",  // no "("
           "229 Entering\r\n(|||6446|)",                       // "(" only after the line end
           "229 (|||0|)\r\n",                                  // port 0
           "229 (|||65536|)\r\n",                              // above the last port
           "229 (|||000021|)\r\n",                             // six digits
           "229 (|||6446)\r\n",                                // no closing delimiter
           "229 (||6446|)\r\n",                                // one delimiter short
           "229 (|1|127.0.0.1|6446|)\r\n",                     // a network and an address
           "229 (|||64a6|)\r\n",
           "229 (|||-1|)\r\n",
           "229 (|||+21|)\r\n",
           "229 (   21 )\r\n",  // a blank is no delimiter
           "229 (\x7F\x7F\x7F"
           "21\x7F)\r\n",  // nor is DEL
           "229 (|||",
           "229 (",
       }) {
    EXPECT_FALSE(ParseExtendedPassiveAnswer(line)) << line;
  }
}

TEST(FtpReply, TheExtendedPortArgumentNamesAnIpv4AddressAndPort) {
  auto a = ParseExtendedPortArgument("|1|127.0.0.1|5000|");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->address, 0x7F000001u);
  EXPECT_EQ(a->port, 5000);
  a = ParseExtendedPortArgument("!1!192.168.1.2!65535!");
  ASSERT_TRUE(a) << "any delimiter 33..126";
  EXPECT_EQ(a->address, 0xC0A80102u);
  EXPECT_EQ(a->port, 65535);
  a = ParseExtendedPortArgument("~1~10.0.0.1~1~");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->port, 1);
}

TEST(FtpReply, AMalformedExtendedPortArgumentNamesNothing) {
  for (const char* argument : {
           "|2|::1|5000|",        // IPv6
           "|2|127.0.0.1|5000|",  // IPv6 by its number, whatever the address
           "||127.0.0.1|5000|",   // no network
           "|11|127.0.0.1|5000|",
           "|1|127.0.0.1|0|",       // port 0
           "|1|127.0.0.1|65536|",   // above the last port
           "|1|127.0.0.1|050000|",  // six digits
           "|1|127.0.0.1|5000",     // no closing delimiter
           "|1|127.0.0.1|5000|x",   // something after it
           "|1|127.0.0.1!5000!",    // mixed delimiters
           " 1 127.0.0.1 5000 ",    // a blank is no delimiter
           "\x7F"
           "1\x7F"
           "127.0.0.1\x7F"
           "5000\x7F",                  // nor is DEL
           "|1|127.0.0|5000|",          // three parts
           "|1|127.0.0.256|5000|",      // a part above 255
           "|1| 127.0.0.1|5000|",       // a blank in the address
           "|1|0.0.0.0|5000|",          // no host
           "|1|255.255.255.255|5000|",  // broadcast
           "|1|127.0.0.1|-5|",
           "|1|host.example|5000|",
           "1|127.0.0.1|5000|",
           "|",
           "",
       }) {
    EXPECT_FALSE(ParseExtendedPortArgument(argument)) << argument;
  }
  EXPECT_FALSE(ParseExtendedPortArgument("|1|" + std::string(10000, '1') + "|5000|")) << "overlong";
}

TEST(FtpReply, AnAddressIsWrittenAsSixNumbers) {
  EXPECT_EQ(FormatAddressNumbers(0x7F000001u, 5000), "127,0,0,1,19,136");
  EXPECT_EQ(FormatAddressNumbers(0xC0A80102u, 65535), "192,168,1,2,255,255");
  auto back = ParseAddressNumbers(FormatAddressNumbers(0x0A0B0C0Du, 40000));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->address, 0x0A0B0C0Du);
  EXPECT_EQ(back->port, 40000);
}

TEST(FtpReply, TheDirectoryOfA257AnswerIsAPathWithSlashesAtBothEnds) {
  EXPECT_EQ(DirectoryOf257("257 \"/pub\" is the current directory.\r\n"), "/pub/");
  EXPECT_EQ(DirectoryOf257("257 \"/pub/docs/\"\r\n"), "/pub/docs/");
  EXPECT_EQ(DirectoryOf257("257 \"/\" is current\r\n"), "/");
  EXPECT_EQ(DirectoryOf257("257 /home/user\r\n"), "/home/user/") << "no quotes: the name runs to the line end";
  EXPECT_EQ(DirectoryOf257("257 \"my dir\" created\r\n"), "/my dir/");
  EXPECT_EQ(DirectoryOf257("257 \"/cut"), "/cut/");
  EXPECT_EQ(DirectoryOf257("257"), "/");
}

}  // namespace
}  // namespace brindlex
