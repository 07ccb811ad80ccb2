// Any template text expands without crashing or reading past its end; text
// without a '%' comes out as it went in, and the KOI8-R form of any text
// keeps its ASCII bytes where they were.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "reports/koi8r_text.h"
#include "reports/report_template.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  brindlex::ReportSubject subject{"login", "", {1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}};
  std::string report = brindlex::ExpandReportTemplate(text, subject, 1'700'000'000);
  if (text.find('%') == std::string_view::npos && report != text) __builtin_trap();
  std::string koi8r = brindlex::ToKoi8r(text);
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii && koi8r != text) __builtin_trap();
  if (koi8r.size() > text.size()) __builtin_trap();
  return 0;
}
