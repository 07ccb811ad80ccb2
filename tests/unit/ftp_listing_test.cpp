#include "ftp/ftp_listing.h"

#include <gtest/gtest.h>
#include <string>

namespace brindlex {
namespace {

TEST(FtpListing, AUnixLineGivesItsFields) {
  auto e = ParseListingLine("drwxr-xr-x   2 ftp      ftp          4096 Jan 12 10:15 docs\r\n");
  ASSERT_TRUE(e);
  EXPECT_TRUE(e->directory);
  EXPECT_EQ(e->name, "docs");
  EXPECT_EQ(e->size, "4096");
  EXPECT_EQ(e->month, "Jan");
  EXPECT_EQ(e->day, "12");
  EXPECT_EQ(e->time, "10:15");
  e = ParseListingLine("-rw-r--r-- 1 owner group 1048576 Dec  3  2025 release notes.txt");
  ASSERT_TRUE(e);
  EXPECT_FALSE(e->directory);
  EXPECT_EQ(e->name, "release notes.txt") << "a name keeps its blanks";
  EXPECT_EQ(e->size, "1048576");
  EXPECT_EQ(e->day, "3");
  EXPECT_EQ(e->time, "2025");
}

TEST(FtpListing, ADosLineGivesDateTimeAndSizeOrDirectory) {
  auto e = ParseListingLine("12-01-26  10:15AM       <DIR>          docs\r\n");
  ASSERT_TRUE(e);
  EXPECT_TRUE(e->directory);
  EXPECT_EQ(e->name, "docs");
  EXPECT_EQ(e->size, "");
  EXPECT_EQ(e->month, "12-01-26");
  EXPECT_EQ(e->day, "");
  EXPECT_EQ(e->time, "10:15AM");
  e = ParseListingLine("12-01-26  10:15AM              2048 read me.txt\r\n");
  ASSERT_TRUE(e);
  EXPECT_FALSE(e->directory);
  EXPECT_EQ(e->size, "2048");
  EXPECT_EQ(e->name, "read me.txt");
}

TEST(FtpListing, LinesWithoutANameAreSkipped) {
  for (const char* line : {"total 12\r\n", "", "\r\n", "drwxr-xr-x 2 ftp ftp 4096 Jan 12 10:15", "d",
                           "-rw-r--r-- 1 owner group 5 Jan 1   \r\n", "12-01-26 10:15AM <DIR>\r\n"}) {
    EXPECT_FALSE(ParseListingLine(line)) << line;
  }
}

TEST(FtpListing, SizesAreKilobytesBelowAMegabyte) {
  EXPECT_EQ(SizeText("1023", 1024), "0K");
  EXPECT_EQ(SizeText("2048", 1024), "2K");
  EXPECT_EQ(SizeText("1047552", 1024), "1023K");
  EXPECT_EQ(SizeText("1048576", 1024), "1.00M");
  EXPECT_EQ(SizeText("1572864", 1024), "1.50M");
  EXPECT_EQ(SizeText("1024000", 1000), "1.00M") << "a megabyte is KbPerMb kilobytes";
  EXPECT_EQ(SizeText("", 1024), "0K");
  EXPECT_EQ(SizeText("12x", 1024), "0K");
  EXPECT_EQ(SizeText("99999999999999999999999", 1024), "0K") << "no overflow";
}

TEST(FtpListing, ADirectoryRowLinksWithATrailingSlash) {
  ListingEntry docs{"docs", true, "4096", "Jan", "12", "10:15"};
  EXPECT_EQ(ListingRow(docs, "/pub/", 1024),
            "<a href=\"/pub/docs/\">[docs]</A>" + std::string(34, ' ') + "Directory      Jan 12 10:15\r\n");
}

TEST(FtpListing, MarkupInANameStaysTextAndTheColumnIsMeasuredOnTheNameShown) {
  ListingEntry evil{"<b>\"x", false, "0", "Jan", "1", "2026"};
  EXPECT_EQ(ListingRow(evil, "/p&q/", 1024), "<a href=\"/p&amp;q/&lt;b&gt;&quot;x\">&lt;b&gt;&quot;x</A>" +
                                                 std::string(35, ' ') + "       0K      Jan  1  2026\r\n");
}

TEST(FtpListing, AFileRowShowsItsSize) {
  ListingEntry file{"a.txt", false, "2048", "Dec", "3", "2025"};
  EXPECT_EQ(ListingRow(file, "/pub/", 1024),
            "<a href=\"/pub/a.txt\">a.txt</A>" + std::string(35, ' ') + "       2K      Dec  3  2025\r\n");
  ListingEntry dos{"x.zip", false, "3145728", "12-01-26", "", "10:15AM"};
  EXPECT_EQ(ListingRow(dos, "/", 1024),
            "<a href=\"/x.zip\">x.zip</A>" + std::string(35, ' ') + "    3.00M 12-01-26   10:15AM\r\n");
}

TEST(FtpListing, ALongNameGetsNoFillAndLongFieldsAreKept) {
  std::string name(45, 'n');
  ListingEntry entry{name, true, "", "a-very-long-date", "123", "12:00:00"};
  EXPECT_EQ(ListingRow(entry, "/", 1024),
            "<a href=\"/" + name + "/\">[" + name + "]</A>Directorya-very-long-date12312:00:00\r\n");
}

}  // namespace
}  // namespace brindlex
