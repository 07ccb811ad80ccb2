#include "reports/koi8r_text.h"

#include <iconv.h>

#include <cerrno>

namespace brindlex {

namespace {

// The UTF-8 forms of Ё, ё and what they are sent as.
constexpr std::string_view kCapitalYo = "\xD0\x81", kCapitalYe = "\xD0\x95";
constexpr std::string_view kSmallYo = "\xD1\x91", kSmallYe = "\xD0\xB5";

std::string WithoutYo(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    std::string_view rest = text.substr(i);
    if (rest.starts_with(kCapitalYo)) {
      out += kCapitalYe;
      i += kCapitalYo.size();
    } else if (rest.starts_with(kSmallYo)) {
      out += kSmallYe;
      i += kSmallYo.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

// How many bytes the UTF-8 sequence at text[0] takes when it is well formed,
// else 0.
size_t SequenceLength(std::string_view text) {
  unsigned char lead = static_cast<unsigned char>(text[0]);
  size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0;
  return length;
}

class Converter {
 public:
  Converter() : cd_(::iconv_open("KOI8-R", "UTF-8")) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) ::iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  std::string Convert(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char buffer[256];
    while (!text.empty()) {
      char* in = const_cast<char*>(text.data());
      size_t inLeft = text.size();
      char* next = buffer;
      size_t outLeft = sizeof(buffer);
      size_t result =
          cd_ == reinterpret_cast<iconv_t>(-1) ? static_cast<size_t>(-1) : ::iconv(cd_, &in, &inLeft, &next, &outLeft);
      int error = result == static_cast<size_t>(-1) ? (cd_ == reinterpret_cast<iconv_t>(-1) ? EILSEQ : errno) : 0;
      out.append(buffer, static_cast<size_t>(next - buffer));
      text.remove_prefix(text.size() - inLeft);
      if (error == 0 || error == E2BIG) continue;
      // A character KOI8-R lacks, or bytes that are not UTF-8 (EILSEQ; EINVAL
      // for a sequence cut off at the end).
      size_t length = SequenceLength(text);
      if (length > 1) {
        out += '?';
        text.remove_prefix(length);
      } else {
        out += text[0];
        text.remove_prefix(1);
      }
    }
    return out;
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::string ToKoi8r(std::string_view utf8) {
  Converter converter;
  return converter.Convert(WithoutYo(utf8));
}

}  // namespace brindlex
