#include "tests/qt/office_scene.h"

#include "core/value_codec.h"

namespace brindlex::testing {
namespace {

constexpr std::int64_t kMb = 1048576;
// Money is kept scaled: one unit is 1024 x KbPerMb x 1000.
constexpr std::int64_t kUnit = 1024LL * 1024 * 1000;

ConsoleUser User(std::uint32_t id, std::uint32_t group, const std::string& name, const std::string& login,
                 std::int64_t inMb, std::int64_t outMb, std::int64_t hours, std::int64_t money) {
  ConsoleUser user;
  user.id = id;
  user.groupNumber = group;
  user.name = name;
  user.login = login;
  user.month = {hours * 3600000, outMb * kMb, inMb * kMb, money * kUnit, money * 95 * kUnit};
  user.day = {hours * 360000, outMb * kMb / 20, inMb * kMb / 20, money * kUnit / 20, money * 95 * kUnit / 20};
  user.ticketRemaining = {kNoValue, kNoValue, kNoValue, kNoValue, kNoValue};
  return user;
}

ConsoleConnection Connection(std::uint64_t handle, const std::string& service, std::int64_t sent, std::int64_t received,
                             const std::string& url) {
  return {handle, service, sent, received, url};
}

}  // namespace

void FillOffice(FakeConsoleEngine& engine) {
  UsersSnapshot& users = engine.users;
  users.groups = {{0, "Default"}, {1, "Бухгалтерия"}, {2, "Отдел продаж"}};
  users.users = {
      User(0, 1, "Смирнова Анна Петровна", "anna", 1840, 96, 61, 23),
      User(1, 1, "Кузнецов Игорь", "igor", 620, 41, 37, 8),
      User(2, 2, "Волкова Мария", "masha", 3275, 210, 88, 41),
      User(3, 2, "", "sales-pc3", 45, 6, 12, 1),
      User(4, 0, "Сервер обновлений", "updates", 7210, 15, 240, 0),
  };
  users.users[0].activeAddresses = {ParseIpv4("192.168.0.10")};
  users.users[2].activeAddresses = {ParseIpv4("192.168.0.23"), ParseIpv4("192.168.0.24")};
  users.users[1].disabled = true;
  users.users[2].limits.monthTraffic = true;
  users.users[2].limits.countsIncoming = true;

  ConsoleAddressSession office{1, ParseIpv4("192.168.0.10"), 0, {}, {}};
  ConsoleUserSession anna{2, "Смирнова Анна Петровна", "anna", 182330, 5830221, 1930, 0, false, {}};
  anna.connections = {Connection(3, "HTTP", 1290, 883402, "http://bank.example.ru/statements/december.pdf"),
                      Connection(4, "HTTP", 388, 12894, "http://mail.example.ru/inbox")};
  office.userSessions.push_back(anna);
  ConsoleAddressSession sales{5, ParseIpv4("192.168.0.23"), 3, {}, {}};
  ConsoleUserSession masha{6, "Волкова Мария", "masha", 40221, 1203339, 540, 0, true, {}};
  masha.connections = {Connection(7, "Socks5", 7720, 330918, "")};
  sales.userSessions.push_back(masha);
  sales.unattributed = {Connection(8, "HTTP", 0, 0, "")};
  engine.tree = std::vector<ConsoleAddressSession>{office, sales};

  engine.cacheEntries = {
      {"http://bank.example.ru/statements/december.pdf", 883402, 1796558400, 1796558412, 1796562000, 1796644800},
      {"http://news.example.ru/", 48213, 1796550000, 1796550003, 1796561000, -1},
      {"http://cdn.example.net/lib/jquery.min.js", 89476, 1790000000, 1796400000, 1796560000, 1799000000},
      {"http://updates.example.org/pool/main/l/libfoo/libfoo_2.4.1_amd64.deb", 2301887, 1796300000, 1796300100,
       1796300100, 0},
  };
  engine.cacheFigures = {1290LL * kMb, 212LL * kMb, 4, 3323000, kMb};
  engine.status = {3, 4};
  engine.speed.assign(300, -1);
  for (int slot = 0; slot < 180; ++slot) engine.speed[slot] = 20000 + (slot * 7919) % 90000;
}

std::vector<std::string> OfficeMonitorLines() {
  return {
      "Открытие сокета 'HTTP', порт=8080; - Ok",
      "HTTP, Смирнова Анна Петровна, anna, 192.168.0.10, 12.07.26, 10:41:07, bank.example.ru, 2140, 883402, 1290, "
      "http://bank.example.ru/statements/december.pdf",
      "HTTP, Волкова Мария, masha, 192.168.0.23, 12.07.26, 10:41:09, news.example.ru, 310, 48213, 402, "
      "http://news.example.ru/",
      "Socks5, Волкова Мария, masha, 192.168.0.23, 12.07.26, 10:41:12, mail.example.ru, 8100, 330918, 7720, ",
      "CLOSE_SESSION, Кузнецов Игорь, igor, 192.168.0.11, 12.07.26, 10:35:02, 1830000, 10240332, 402211",
      "DNS: 192.168.0.10 news.example.ru A",
  };
}

}  // namespace brindlex::testing
