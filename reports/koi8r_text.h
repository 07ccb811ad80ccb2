// Conversion of the reports' text (UTF-8, like every text of the program) to
// KOI8-R, the character set the mail goes out in. Safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace brindlex {

// Every character KOI8-R has is sent as its KOI8-R code, except that Ё and ё
// go as Е and е (the letter many readers' fonts and habits do without). A
// character KOI8-R lacks becomes '?'; a byte that is not part of valid UTF-8
// is passed on unchanged. ASCII text comes out as it went in.
std::string ToKoi8r(std::string_view utf8);

}  // namespace brindlex
