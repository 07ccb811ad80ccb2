#include "core/settings.h"

#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "core/strings.h"

namespace brindlex {
namespace {

// A settings file of the test's own, restored to defaults afterwards.
class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/brindlex-settings-XXXXXX";
    int fd = ::mkstemp(name);
    ::close(fd);
    path_ = name;
    SetSettingsPath(path_);
    PublishSettings(SystemSettings{});
  }
  void TearDown() override {
    std::remove(path_.c_str());
    PublishSettings(SystemSettings{});
  }
  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string Read() {
    std::stringstream s;
    s << std::ifstream(path_, std::ios::binary).rdbuf();
    return s.str();
  }
  SystemSettings Load() {
    SystemSettings s;
    LoadSystemSettings(LoadIniFile(path_), s);
    return s;
  }
  std::string path_;
};

void ExpectDefaults(const SystemSettings& s) {
  EXPECT_TRUE(s.EnableHTTP);
  EXPECT_EQ(HttpPorts(s.HttpPort), std::vector<int>{8080});
  EXPECT_TRUE(s.EnableFtpHttp);
  EXPECT_FALSE(s.EnableFtp);
  EXPECT_FALSE(s.EnablePost);
  EXPECT_FALSE(s.EnableSocks5);
  EXPECT_FALSE(s.EnableDns);
  EXPECT_FALSE(s.EnableCach);
  EXPECT_FALSE(s.EnableDialUp);
  EXPECT_FALSE(s.EnableParentProxy);
  EXPECT_EQ(s.KbPerMb, 1024);
  EXPECT_EQ(s.HeadTimeout, 60);
  EXPECT_EQ(s.DayOfMontCalc, 1);
  EXPECT_DOUBLE_EQ(s.CachSizeMax, 10);
  EXPECT_DOUBLE_EQ(s.CachLengthMax, 0.1);
  EXPECT_EQ(s.CascadeIP, kNoAddress);
  EXPECT_EQ(s.PostLimiter, "#");
  EXPECT_EQ(s.SpamTime, "00:00");
}

TEST_F(SettingsFile, MissingEmptyOrGarbageFileGivesEveryDefault) {
  std::remove(path_.c_str());
  ExpectDefaults(Load());
  Write("");
  ExpectDefaults(Load());
  std::string garbage;
  for (int i = 0; i < 100000; ++i) garbage.push_back(static_cast<char>((i * 7919) & 0xFF));
  Write(garbage);
  ExpectDefaults(Load());
}

TEST_F(SettingsFile, ValuesReadByKindAndUnreadableNumbersAreZero) {
  Write(
      "[system]\r\nenablehttp=0\r\nHttpPort=8080; 3128\r\nCascadeIP=10.1.2.3\r\nCascadePort=x\r\n"
      "CachSizeMax=\r\nCachLengthMax=2.5\r\nLocalHosts=a; ;b*\r\nParentProxyPassword=" +
      Scramble("pa;ss") + "\r\nPasswordAdmin=plain\r\n");
  SystemSettings s = Load();
  EXPECT_FALSE(s.EnableHTTP) << "names compare without regard to case";
  EXPECT_EQ(HttpPorts(s.HttpPort), (std::vector<int>{8080, 3128}));
  EXPECT_EQ(s.CascadeIP, 0x0A010203u);
  EXPECT_EQ(s.CascadePort, 0);
  EXPECT_DOUBLE_EQ(s.CachSizeMax, 10) << "an empty real reads its default";
  EXPECT_DOUBLE_EQ(s.CachLengthMax, 2.5);
  EXPECT_EQ(s.LocalHosts, (std::vector<std::string>{"a", "b*"}));
  EXPECT_EQ(s.ParentProxyPassword, "pa;ss");
  EXPECT_EQ(s.PasswordAdmin, "plain");
}

// Hand-edited reals far out of range load clamped (the suite runs under
// UBSan too, where a huge real turned into bytes would be caught), and the
// caps made from them are numbers, not undefined behaviour.
TEST_F(SettingsFile, HugeOrNegativeRealsLoadClampedToTheirRange) {
  struct Case {
    const char* stored;
    double read;
  } cases[] = {{"1e300", kRealSettingMax}, {"-1e300", 0},           {"-5", 0}, {"1e9", 1e9},
               {"inf", 0},                 {"nan", 0},              {"12.5", 12.5}, {"99999999999", kRealSettingMax}};
  for (const Case& c : cases) {
    Write(std::string("[System]\r\nCachSizeMax=") + c.stored + "\r\nCachLengthMax=" + c.stored + "\r\n");
    SystemSettings s = Load();
    EXPECT_DOUBLE_EQ(s.CachSizeMax, c.read) << c.stored;
    EXPECT_DOUBLE_EQ(s.CachLengthMax, c.read) << c.stored;
    EXPECT_DOUBLE_EQ(ReadSettingReal("CachLengthMax", 0.1), c.read) << c.stored;
  }
}

TEST_F(SettingsFile, AReloadPublishesTheFileButKeepsKbPerMb) {
  Write("[System]\r\nCorrectTraffic=7\r\nLocalHosts=a;b\r\nKbPerMb=1000\r\n");
  const auto before = Settings();
  EXPECT_EQ(ReloadSystemSettings(LoadIniFile(path_)), std::vector<std::string>{"KbPerMb"});
  EXPECT_EQ(Settings()->CorrectTraffic, 7);
  EXPECT_EQ(Settings()->LocalHosts, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Settings()->KbPerMb, 1024) << "the money counters are scaled by the value in force";
  EXPECT_EQ(before->CorrectTraffic, 0) << "a reader's snapshot never changes under it";

  Write("[System]\r\nKbPerMb=1024\r\n");
  EXPECT_EQ(ReloadSystemSettings(LoadIniFile(path_)), std::vector<std::string>{});
  EXPECT_EQ(Settings()->CorrectTraffic, 0) << "a key taken out of the file reads its default";
  EXPECT_TRUE(Settings()->LocalHosts.empty());
}

TEST(HttpPortList, AtMostTenStoppingAtTheFirstZero) {
  EXPECT_EQ(HttpPorts("8080;0;3128"), std::vector<int>{8080});
  EXPECT_EQ(HttpPorts("1;2;3;4;5;6;7;8;9;10;11"), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(HttpPorts(""), std::vector<int>{});
  EXPECT_EQ(HttpPorts("abc;8080"), std::vector<int>{}) << "an unreadable field is 0 and ends the list";
}

TEST(BillingDay, OutsideOneToTwentyCountsAsOne) {
  SystemSettings s;
  for (auto [value, expected] : {std::pair{25, 1}, {0, 1}, {-3, 1}, {20, 20}, {10, 10}}) {
    s.DayOfMontCalc = value;
    EXPECT_EQ(BillingDay(s), expected) << value;
  }
}

TEST_F(SettingsFile, EditorWritesCanonicalFormsAndRefusesBadInput) {
  std::string field = "";
  ASSERT_TRUE(WriteIntegerSetting("EdFtpPort", field).ok);
  EXPECT_EQ(field, "0") << "an empty integer field is stored as 0";
  EXPECT_EQ(Settings()->FtpPort, 0);

  field = " 2121 ";
  ASSERT_TRUE(WriteIntegerSetting("EdFtpPort", field).ok);
  EXPECT_EQ(field, "2121");
  EXPECT_EQ(Settings()->FtpPort, 2121);

  field = "21x";
  EditOutcome bad = WriteIntegerSetting("EdFtpPort", field);
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(bad.caption, "Ошибка преобразования");
  EXPECT_EQ(bad.message, "\"21x\"- некорректное число");
  EXPECT_EQ(Settings()->FtpPort, 2121) << "nothing stored on failure";

  field = "2.50";
  ASSERT_TRUE(WriteRealSetting("EdCachSizeMax", field).ok);
  EXPECT_EQ(field, "2.5");
  EXPECT_DOUBLE_EQ(Settings()->CachSizeMax, 2.5);

  field = "10.0.1";
  EditOutcome ip = WriteIpv4Setting("EdCascadeIP", field);
  EXPECT_FALSE(ip.ok);
  EXPECT_EQ(ip.message, "Необходимо ввести IP-адрес в формате 'a.b.c.d'");
  field = "255.255.255.255";
  EXPECT_FALSE(WriteIpv4Setting("EdCascadeIP", field).ok);
  field = " 10.0.0.1";
  ASSERT_TRUE(WriteIpv4Setting("EdCascadeIP", field).ok);
  EXPECT_EQ(field, "10.0.0.1");

  ASSERT_TRUE(WriteBooleanSetting("CbEnableFtp", true).ok);
  ASSERT_TRUE(WriteListSetting("LbInInterface", {"10.0.0.1", "10.0.0.2"}).ok);
  field = "7:5";
  ASSERT_TRUE(WriteSpamTime(field).ok);
  EXPECT_EQ(field, "07:05");
  field = "1";
  EXPECT_EQ(WriteDateSetting("EdSomeDate", field).ok, true);
  field = "xx";
  EXPECT_EQ(WriteDateSetting("EdSomeDate", field).message, "\"xx\"- некоректная дата");

  SystemSettings reread = Load();
  EXPECT_EQ(reread.FtpPort, 2121);
  EXPECT_DOUBLE_EQ(reread.CachSizeMax, 2.5);
  EXPECT_EQ(reread.CascadeIP, 0x0A000001u);
  EXPECT_TRUE(reread.EnableFtp);
  EXPECT_EQ(reread.InInterface, (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(reread.SpamTime, "07:05");
  EXPECT_NE(Read().find("InInterface=10.0.0.1; 10.0.0.2;\r\n"), std::string::npos);
}

TEST_F(SettingsFile, AdminPasswordNeedsItsConfirmationAndIsStoredScrambled) {
  EditOutcome mismatch = WriteAdminPassword("Secret", "secret");
  EXPECT_FALSE(mismatch.ok);
  EXPECT_EQ(mismatch.caption, "Предупреждение");
  EXPECT_EQ(mismatch.message, "Пароль не подтвержден!");
  ASSERT_TRUE(WriteAdminPassword("Secret", "Secret").ok);
  EXPECT_EQ(Settings()->PasswordAdmin, "Secret");
  EXPECT_EQ(Read().find("Secret"), std::string::npos) << "never stored in plain text";
  EXPECT_EQ(Load().PasswordAdmin, "Secret");
}

TEST_F(SettingsFile, CacheObjectNumbersAreNeverGivenTwiceAcrossRestarts) {
  Write("[System]\r\nCurIdCach=41\r\n");
  LoadCounters(LoadIniFile(path_));
  EXPECT_EQ(TakeCacheObjectId(), 41u);
  EXPECT_EQ(TakeCacheObjectId(), 42u);
  LoadCounters(LoadIniFile(path_));  // as a restart would
  EXPECT_EQ(TakeCacheObjectId(), 43u);
  EXPECT_EQ(NextTicketId(), 1);
  LoadCounters(LoadIniFile(path_));
  EXPECT_EQ(NextTicketId(), 2);
}

TEST_F(SettingsFile, ReadOperationsUseTheFileAsItIsNow) {
  Write(
      "[System]\r\nSpamServer=mail.lan\r\nSpamPort=2525\r\nCachLengthMax=0.5\r\nCascadeIP=0.0.0.0\r\nDnsServer=a;"
      "b\r\n");
  EXPECT_EQ(ReadSettingText("SpamServer", "x"), "mail.lan");
  EXPECT_EQ(ReadSettingText("Missing", "fallback"), "fallback");
  EXPECT_EQ(ReadSettingInteger("SpamPort", 25), 2525);
  EXPECT_EQ(ReadSettingInteger("Missing", 25), 25);
  EXPECT_DOUBLE_EQ(ReadSettingReal("CachLengthMax", 0.1), 0.5);
  EXPECT_EQ(ReadSettingIpv4("CascadeIP", ""), kNoAddress);
  std::vector<std::string> list{"stale"};
  ReadSettingList("DnsServer", list);
  EXPECT_EQ(list, (std::vector<std::string>{"a", "b"}));
}

TEST(StringTable, HoldsProtocolRepliesByteForByte) {
  EXPECT_STREQ(StrC(430), "220 Hi! Welcome on Brindlex!\r\n");
  EXPECT_STREQ(StrC(402), "HTTP/1.0 200 OK\r\nPragma: no-cach\r\n\r\n");
  EXPECT_STREQ(StrC(960), "Приложение \"Brindlex\" уже запущено!");
  EXPECT_STREQ(StrC(99999), "");
}

TEST(StringTable, PlacesAreFilledInOrderAndALongValueIsCut) {
  EXPECT_EQ(StrWith(1318, "gw:9470", "отказ"), "Шлюз gw:9470: нет связи (отказ)");
  // A place without a value stays empty rather than reading garbage.
  EXPECT_EQ(StrWith(1318, "gw"), "Шлюз gw: нет связи ()");
  EXPECT_EQ(StrWith(99999, "x"), "");
  const std::string longValue(10000, 'a');
  const std::string cut = StrWith(1226, longValue);
  EXPECT_EQ(cut.size(), 4095u);
  EXPECT_EQ(cut.rfind(Str(1226).substr(0, Str(1226).find('%')), 0), 0u);
}

TEST(StringTable, ANounAgreesWithTheNumberBeforeIt) {
  struct Case {
    std::int64_t count;
    int form;
  } cases[] = {{0, 2},  {1, 0},   {2, 1},   {4, 1},   {5, 2},   {10, 2},  {11, 2},  {12, 2},   {14, 2},
               {15, 2}, {20, 2},  {21, 0},  {22, 1},  {25, 2},  {101, 0}, {111, 2}, {112, 2},  {121, 0},
               {1004, 1}, {-1, 0}, {-3, 1}, {-11, 2}, {INT64_MIN, 2}, {INT64_MAX, 2}};
  for (const Case& c : cases) EXPECT_EQ(RussianPluralForm(c.count), c.form) << c.count;
  // The three forms of one noun stand under consecutive numbers.
  EXPECT_EQ(StrForCount(1, 1438), " пользователь, ");
  EXPECT_EQ(StrForCount(3, 1438), " пользователя, ");
  EXPECT_EQ(StrForCount(13, 1438), " пользователей, ");
  EXPECT_EQ(StrForCount(41, 1441), " соединение.");
}

TEST(StringTable, TextsAreCyrillicWhereTheyLookCyrillic) {
  // A Latin letter inside a Russian word looks right and breaks searching
  // and sorting; every word is one script or the other.
  auto isCyrillicLead = [](unsigned char c) { return c == 0xD0 || c == 0xD1; };
  for (int id = 0; id < 3000; ++id) {
    const std::string text = Str(id);
    size_t start = 0;
    while (start < text.size()) {
      size_t end = start;
      bool latin = false;
      bool cyrillic = false;
      while (end < text.size()) {
        const auto c = static_cast<unsigned char>(text[end]);
        if (isCyrillicLead(c) && end + 1 < text.size()) {
          cyrillic = true;
          end += 2;
        } else if (std::isalpha(c)) {
          latin = true;
          ++end;
        } else {
          break;
        }
      }
      EXPECT_FALSE(latin && cyrillic) << "string " << id << ": " << text.substr(start, end - start);
      // A single Latin letter between Russian words ("Траффик c") is the
      // same slip without a mixed word.
      if (latin && end - start == 1 && start >= 3 && text[start - 1] == ' ' && (end == text.size() || text[end] == ' ') &&
          isCyrillicLead(static_cast<unsigned char>(text[start - 3])))
        ADD_FAILURE() << "string " << id << ": a lone Latin letter after Russian text";
      start = end == start ? start + 1 : end;
    }
  }
}

}  // namespace
}  // namespace brindlex

namespace brindlex {
namespace {

TEST_F(SettingsFile, FileOnlyWritesLeaveTheSettingsInForceAlone) {
  std::string port = "2121";
  ASSERT_TRUE(WriteIntegerSetting("EdFtpPort", port, SettingWrite::kFileOnly).ok);
  ASSERT_TRUE(WriteScrambledSetting("EdParentProxyPassword", "pw", SettingWrite::kFileOnly).ok);
  ASSERT_TRUE(WriteBooleanSetting("CbEnableFtp", true, SettingWrite::kFileOnly).ok);
  EXPECT_EQ(Settings()->FtpPort, 21);
  EXPECT_EQ(Settings()->ParentProxyPassword, "");
  EXPECT_FALSE(Settings()->EnableFtp);
  SystemSettings stored = Load();
  EXPECT_EQ(stored.FtpPort, 2121);
  EXPECT_EQ(stored.ParentProxyPassword, "pw");
  EXPECT_TRUE(stored.EnableFtp);
}

TEST(ShownSettings, EachKindAsItsControlShowsIt) {
  SystemSettings s;
  s.CachSizeMax = 2.5;
  s.CascadeIP = 0x0A000001u;
  s.InInterface = {"10.0.0.1", "10.0.0.2"};
  EXPECT_EQ(ShownSetting(s, "EnableHTTP").text, "1");
  EXPECT_EQ(ShownSetting(s, "EnableFtp").text, "0");
  EXPECT_EQ(ShownSetting(s, "FtpPort").text, "21");
  EXPECT_EQ(ShownSetting(s, "CachSizeMax").text, "2.5");
  EXPECT_EQ(ShownSetting(s, "CascadeIP").text, "10.0.0.1");
  EXPECT_EQ(ShownSetting(s, "InInterface").items, s.InInterface);
  EXPECT_EQ(ShownSetting(s, "SpamTime").text, "00:00");
  EXPECT_EQ(ShownSetting(SystemSettings{}, "CascadeIP").text, "") << "unset shows empty";
  EXPECT_EQ(ShownSetting(s, "NoSuchKey").text, "");
}

}  // namespace
}  // namespace brindlex

namespace brindlex {
namespace {

TEST_F(SettingsFile, PreparedFieldsGiveTheFilesFormAndStoreNothingUntilStoredTogether) {
  Write("[System]\r\nFtpPort=21\r\nCurIdCach=7\r\n");
  const std::string before = Read();
  struct Case {
    const char* key;
    const char* typed;
    const char* shown;
    const char* stored;
  };
  for (const Case& good :
       {Case{"FtpPort", " 2121", "2121", "2121"}, Case{"SpamTime", "7:5", "07:05", "07:05"},
        Case{"CascadeIP", " 10.0.0.1", "10.0.0.1", "10.0.0.1"}, Case{"CachSizeMax", "25.50", "25.5", "25.5"},
        Case{"EnableFtp", "1", "1", "1"}, Case{"HttpPort", "3128; 8081", "3128; 8081", "3128; 8081"}}) {
    std::string field = good.typed;
    std::string stored;
    EditOutcome outcome = PrepareSettingText(good.key, field, stored);
    EXPECT_TRUE(outcome.ok) << good.key << ": " << outcome.message;
    EXPECT_EQ(field, good.shown) << good.key;
    EXPECT_EQ(stored, good.stored) << good.key;
  }
  std::string password = "Secret";
  std::string scrambled;
  ASSERT_TRUE(PrepareSettingText("PasswordAdmin", password, scrambled).ok);
  EXPECT_EQ(password, "Secret");
  EXPECT_EQ(Unscramble(scrambled), "Secret");
  EXPECT_NE(scrambled, "Secret");

  for (const Case& bad :
       {Case{"FtpPort", "21x", "", ""}, Case{"SpamTime", "25:00", "", ""}, Case{"CascadeIP", "255.255.255.255", "", ""},
        Case{"HttpPort", "0", "", ""}, Case{"NameAdmin", "two\nlines", "", ""}, Case{"NoSuchKey", "1", "", ""}}) {
    std::string field = bad.typed;
    std::string stored = "untouched";
    EditOutcome outcome = PrepareSettingText(bad.key, field, stored);
    EXPECT_FALSE(outcome.ok) << bad.key;
    EXPECT_FALSE(outcome.message.empty()) << bad.key;
    EXPECT_EQ(stored, "untouched") << bad.key;
  }
  EXPECT_EQ(Read(), before) << "checking stores nothing";
  EXPECT_EQ(Settings()->FtpPort, 21);

  ASSERT_TRUE(StoreSystemTexts({{"FtpPort", "2121"}, {"SpamTime", "07:05"}}));
  const IniDocument stored = LoadIniFile(path_);
  EXPECT_EQ(*FindValue(stored, "System", "FtpPort"), "2121");
  EXPECT_EQ(*FindValue(stored, "System", "SpamTime"), "07:05");
  EXPECT_EQ(*FindValue(stored, "System", "CurIdCach"), "7") << "the other keys stay";
  EXPECT_EQ(Settings()->FtpPort, 21) << "the file only; the reload puts it in force";
  // A value the file cannot hold refuses the whole write.
  const std::string written = Read();
  EXPECT_FALSE(StoreSystemTexts({{"FtpPort", "21"}, {"NameAdmin", "two\nlines"}}));
  EXPECT_EQ(Read(), written);
}

}  // namespace
}  // namespace brindlex
