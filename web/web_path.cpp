#include "web/web_path.h"

#include <vector>

#include "core/value_codec.h"

namespace brindlex {

namespace {

constexpr std::string_view kIndexPage = "index.html";
constexpr std::string_view kAdminFolder = "admin";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent escapes decoded once; false for a NUL, written or escaped, which
// would cut the file name short when it reaches the system.
bool Decode(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      char c = static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      if (c == '\0') return false;
      out.push_back(c);
      i += 2;
    } else {
      if (text[i] == '\0') return false;
      out.push_back(text[i]);
    }
  }
  return true;
}

}  // namespace

WebTarget ParseWebTarget(std::string_view path) {
  WebTarget target;
  size_t end = path.find_first_of("\r\n");
  if (end != std::string_view::npos) path = path.substr(0, end);
  size_t question = path.find('?');
  std::string_view name = path.substr(0, question);
  if (question != std::string_view::npos) target.query = std::string(path.substr(question + 1));
  if (target.query.empty()) target.query = "null";

  std::string decoded;
  if (name.empty() || name[0] != '/' || !Decode(name, decoded)) {
    target.refused = true;
    return target;
  }
  // Both separators count, as a path written for another system uses '\'.
  std::vector<std::string_view> segments;
  std::string_view rest = decoded;
  while (!rest.empty()) {
    size_t cut = rest.find_first_of("/\\");
    std::string_view segment = rest.substr(0, cut);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    if (segment == "..") {
      target.refused = true;
      return target;
    }
    if (!segment.empty() && segment != ".") segments.push_back(segment);
  }
  char last = decoded.back();
  bool folder = segments.empty() || last == '/' || last == '\\';

  target.admin = !segments.empty() && EqualsNoCase(segments.front(), kAdminFolder);
  for (std::string_view segment : segments) {
    if (!target.file.empty()) target.file += '/';
    target.file += segment;
  }
  if (folder) target.file += target.file.empty() ? std::string(kIndexPage) : "/" + std::string(kIndexPage);
  target.atRoot = target.file.find('/') == std::string::npos;
  std::string_view lastSegment = target.file;
  lastSegment = lastSegment.substr(lastSegment.rfind('/') + 1);
  size_t dot = lastSegment.find('.');
  if (dot != std::string_view::npos) target.extension = std::string(lastSegment.substr(dot + 1));
  return target;
}

}  // namespace brindlex
