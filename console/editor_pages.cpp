#include "console/editor_pages.h"

#include <array>

#include "core/strings.h"

namespace brindlex {

namespace {

const std::array<ConfigPage, kConfigPageCount>& Pages() {
  static const std::array<ConfigPage, kConfigPageCount> pages = {{
      {1140, 1100, PageContent::kGroups, {}},
      {1141, 1101, PageContent::kSettings, {{"LbInInterface", kChangedAny}}},
      {1142, 1102, PageContent::kSettings, {{"LbLocalHosts", kChangedAny}}},
      {1143, 1119, PageContent::kSettings, {{"LbUsersAddrs", kChangedAny}}},
      {1144, 1103, PageContent::kFilters, {}},
      {1145,
       1104,
       PageContent::kSettings,
       {{"CbEnableHTTP", kChangedHttp},
        {"EdHttpPort", kChangedHttp},
        {"CbEnableParentProxy", kChangedAny},
        {"EdCascadeIP", kChangedAny},
        {"EdCascadePort", kChangedAny},
        {"CbEnableParentProxyAut", kChangedAny},
        {"EdParentProxyUser", kChangedAny},
        {"EdParentProxyPassword", kChangedAny},
        {"CbEnableFtpHttp", kChangedAny}}},
      {1146, 1105, PageContent::kSettings, {{"CbEnableFtp", kChangedFtp}, {"EdFtpPort", kChangedFtp}}},
      {1147,
       1106,
       PageContent::kSettings,
       {{"CbEnablePost", kChangedSmtp | kChangedPop3},
        {"EdSmtpPort", kChangedSmtp},
        {"EdPop3Port", kChangedPop3},
        {"EdPostLimiter", kChangedAny}}},
      {1148, 1107, PageContent::kSettings, {{"CbEnableSocks5", kChangedSocks5}, {"EdSocks5Port", kChangedSocks5}}},
      {1149,
       1108,
       PageContent::kSettings,
       {{"CbEnableDns", kChangedAny},
        {"EdDnsServer", kChangedAny},
        {"CbEnableCachDns", kChangedAny},
        {"CbEnableHostsDns", kChangedAny},
        {"EdHostsFileName", kChangedAny},
        {"EdDomainSuffix", kChangedAny}}},
      {1150, 1122, PageContent::kPortMapping, {}},
      {1151,
       1109,
       PageContent::kSettings,
       {{"CbEnableCach", kChangedAny},
        {"EdCachTimeStored", kChangedAny},
        {"EdCachSizeMax", kChangedAny},
        {"EdCachLengthMax", kChangedAny},
        {"CbCachLocalHosts", kChangedAny},
        {"CbCachCookie", kChangedAny},
        {"CbCachGetWithPar", kChangedAny},
        {"CbCachFtpDir", kChangedAny},
        {"CbCachOffline", kChangedAny}}},
      {1152,
       1110,
       PageContent::kSettings,
       {{"EdNameAdmin", kChangedAny},
        {"EdSpamServer", kChangedAny},
        {"EdSpamPort", kChangedAny},
        {"EdEMailAdmin", kChangedAny},
        {"EdSpamTime", kChangedAny}}},
      {1153,
       1121,
       PageContent::kSettings,
       {{"CbEnableDialUp", kChangedAny},
        {"EdDialUpConnection", kChangedAny},
        {"EdDialUpUser", kChangedAny},
        {"EdDialUpPassword", kChangedAny},
        {"CbDialUpCheckNecessity", kChangedAny},
        {"EdDialUpWaitRepet", kChangedAny},
        {"EdDialUpIdleTime", kChangedAny}}},
      {1154,
       1135,
       PageContent::kSettings,
       {{"EdCorrectTraffic", kChangedAny},
        {"EdDayOfMontCalc", kChangedAny},
        {"EdStoreLogs", kChangedLogKeeping},
        {"EdBackground", kChangedBackground},
        {"EdPasswordAdmin", kChangedAny},
        {"EdPasswordConfirm", kChangedAny, "EdPasswordAdmin"}}},
  }};
  return pages;
}

}  // namespace

const ConfigPage& ConfigPageAt(int index) { return Pages().at(static_cast<size_t>(index)); }

std::string PageCaption(int index) { return Str(ConfigPageAt(index).captionId); }

std::string PageHeader(int index) { return Str(ConfigPageAt(index).headerId); }

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
