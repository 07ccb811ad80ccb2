#include "console/editor_pages.h"

#include <array>

#include "core/strings.h"

namespace brindlex {

namespace {

const std::array<TreePage, kConfigPageCount>& Pages() {
  static const std::array<TreePage, kConfigPageCount> pages = {{
      {1140, 1100, PageContent::kGroups, {}},
      {1141, 1101, PageContent::kSettings, {{"LbInInterface", 1101, kChangedAny}}},
      {1142,
       1102,
       PageContent::kSettings,
       {{"LbLocalHosts", 1102, kChangedAny}, {"CbEnableLoopbackTargets", 1364, kChangedAny}}},
      {1143, 1119, PageContent::kSettings, {{"LbUsersAddrs", 1119, kChangedAny}}},
      {1144, 1103, PageContent::kFilters, {}},
      {1145,
       1104,
       PageContent::kSettings,
       {{"CbEnableHTTP", 1900, kChangedHttp},
        {"EdHttpPort", 1901, kChangedHttp},
        {"CbEnableParentProxy", 1902, kChangedAny},
        {"EdCascadeIP", 1903, kChangedAny},
        {"EdCascadePort", 1904, kChangedAny},
        {"CbEnableParentProxyAut", 1905, kChangedAny},
        {"EdParentProxyUser", 1906, kChangedAny},
        {"EdParentProxyPassword", 1907, kChangedAny},
        {"CbEnableFtpHttp", 1908, kChangedAny},
        {"EdHeadTimeout", 1365, kChangedAny}}},
      {1146, 1105, PageContent::kSettings, {{"CbEnableFtp", 1909, kChangedFtp}, {"EdFtpPort", 1901, kChangedFtp}}},
      {1147,
       1106,
       PageContent::kSettings,
       {{"CbEnablePost", 1910, kChangedSmtp | kChangedPop3},
        {"EdSmtpPort", 1911, kChangedSmtp},
        {"EdPop3Port", 1912, kChangedPop3},
        {"EdPostLimiter", 1913, kChangedAny}}},
      {1148,
       1107,
       PageContent::kSettings,
       {{"CbEnableSocks5", 1914, kChangedSocks5}, {"EdSocks5Port", 1901, kChangedSocks5}}},
      {1149,
       1108,
       PageContent::kSettings,
       {{"CbEnableDns", 1915, kChangedAny},
        {"EdDnsServer", 1916, kChangedAny},
        {"CbEnableCachDns", 1917, kChangedAny},
        {"CbEnableHostsDns", 1918, kChangedAny},
        {"EdHostsFileName", 1919, kChangedAny},
        {"EdDomainSuffix", 1920, kChangedAny},
        {"CbEnableWpadDns", 1366, kChangedAny}}},
      {1150, 1122, PageContent::kPortMapping, {}},
      {1151,
       1109,
       PageContent::kSettings,
       {{"CbEnableCach", 1921, kChangedAny},
        {"EdCachTimeStored", 1922, kChangedAny},
        {"EdCachSizeMax", 1923, kChangedAny},
        {"EdCachLengthMax", 1924, kChangedAny},
        {"CbCachLocalHosts", 1925, kChangedAny},
        {"CbCachCookie", 1926, kChangedAny},
        {"CbCachGetWithPar", 1927, kChangedAny},
        {"CbCachFtpDir", 1928, kChangedAny},
        {"CbCachOffline", 1929, kChangedAny}}},
      {1152,
       1110,
       PageContent::kSettings,
       {{"EdNameAdmin", 1930, kChangedAny},
        {"EdSpamServer", 1931, kChangedAny},
        {"EdSpamPort", 1932, kChangedAny},
        {"EdEMailAdmin", 1933, kChangedAny},
        {"EdSpamTime", 1934, kChangedAny}}},
      {1153,
       1121,
       PageContent::kSettings,
       {{"CbEnableDialUp", 1935, kChangedAny},
        {"EdDialUpConnection", 1936, kChangedAny},
        {"EdDialUpUser", 1937, kChangedAny},
        {"EdDialUpPassword", 1938, kChangedAny},
        {"CbDialUpCheckNecessity", 1939, kChangedAny},
        {"EdDialUpWaitRepet", 1940, kChangedAny},
        {"EdDialUpIdleTime", 1941, kChangedAny}}},
      {1154,
       1135,
       PageContent::kSettings,
       {{"EdCorrectTraffic", 1942, kChangedAny},
        {"EdDayOfMontCalc", 1943, kChangedAny},
        {"EdStoreLogs", 1944, kChangedLogKeeping},
        {"EdBackground", 1945, kChangedBackground},
        {"EdMaxConnectionsPerAddress", 1368, kChangedAny},
        {"EdKbPerMb", 1367, kChangedAny},
        {"EdMetricsAddress", 1369, kChangedAny},
        {"EdAdminPort", 1370, kChangedAny},
        {"EdPasswordAdmin", 1946, kChangedAny},
        {"EdPasswordConfirm", 1947, kChangedAny, "EdPasswordAdmin"}}},
  }};
  return pages;
}

}  // namespace

const TreePage& ConfigPageAt(int index) { return Pages().at(static_cast<size_t>(index)); }

std::string PageCaption(int index) { return Str(ConfigPageAt(index).captionId); }

std::string PageHeader(int index) { return Str(ConfigPageAt(index).headerId); }

std::string ControlCaption(const PageControl& control) { return Str(control.captionId); }

ControlKind KindOfControl(std::string_view controlName) {
  std::string_view prefix = controlName.substr(0, 2);
  if (prefix == "Cb") return ControlKind::kCheckBox;
  if (prefix == "Co") return ControlKind::kComboBox;
  if (prefix == "Lb") return ControlKind::kListBox;
  return ControlKind::kEdit;
}

const PageControl* FindPageControl(int page, std::string_view controlName) {
  for (const PageControl& control : ConfigPageAt(page).controls)
    if (controlName == control.name) return &control;
  return nullptr;
}

std::string GroupPageHeader(std::string_view groupName) { return Str(1111) + " '" + std::string(groupName) + "'"; }

std::string UserPageHeader(std::string_view fullName, std::string_view login) {
  return Str(1112) + " '" + std::string(fullName) + "' (" + std::string(login) + ")";
}

}  // namespace brindlex
