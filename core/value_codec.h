// Value encodings of the settings file: integers, booleans, number text, IPv4
// addresses, lists, records and scrambled text. Pure functions, no state, safe
// from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brindlex {

// An IPv4 address in host byte order; kNoAddress is "none" (all bits one).
using Ipv4 = std::uint32_t;
inline constexpr Ipv4 kNoAddress = 0xFFFFFFFFu;

// Leading decimal integer (optional blanks and sign); anything unreadable is 0.
// Saturates instead of overflowing.
std::int64_t ParseIntPrefix(std::string_view text);

// Leading real number; unreadable is 0.
double ParseRealPrefix(std::string_view text);

// Whole-text conversions used by the editor: the text must be one number and
// nothing else (blanks around it allowed). Return false on anything else.
bool ParseWholeInt(std::string_view text, std::int64_t& value);
bool ParseWholeReal(std::string_view text, double& value);

// Number text: fixed decimals, then trailing zeros and a trailing point removed
// (12.50 -> "12.5", 3.00 -> "3").
std::string FormatNumberText(double value, int decimals = 2);

// Dotted quad. An empty, unparsable or all-zero address is kNoAddress.
Ipv4 ParseIpv4(std::string_view text);
// Strict dotted quad (four parts 0..255, blanks around allowed); any value.
bool ParseDottedQuad(std::string_view text, Ipv4& address);
std::string FormatIpv4(Ipv4 address);

// List: split at ';', leading blanks of each element skipped, empty elements
// dropped, trailing blanks kept.
std::vector<std::string> SplitList(std::string_view text);
// Each element followed by "; ", the whole trimmed.
std::string JoinList(const std::vector<std::string>& items);

// Record field n: the text after the n-th ';' (leading blanks skipped) up to
// the next ';' or the end. Field 0 is the text before the first ';'. A missing
// field is empty.
std::string_view RecordField(std::string_view record, int n);
// Fields joined by "; ".
std::string JoinRecord(const std::vector<std::string>& fields);
// Field n read as a flag (a non-zero leading integer) or as a real number.
bool RecordFlag(std::string_view record, int n);
// Field n as a real, held to +-kRecordRealMax: a hand-edited 1e300 in a
// tariff, limit or speed would otherwise overflow every conversion to bytes
// or money.
inline constexpr double kRecordRealMax = 1e9;
double RecordReal(std::string_view record, int n);
// A real as a 64-bit integer, saturated at the type's ends (0 for NaN): a
// conversion of a value out of range is undefined behaviour.
std::int64_t SaturatedInt64(double value);
// A flag as a record field: "1" or "0".
std::string FlagText(bool value);

// Scrambled text: '*' and one byte per input byte; never holds NUL, ';', LF or CR.
std::string Scramble(std::string_view plain);
// Undo Scramble; a value not beginning with '*' is returned unchanged.
std::string Unscramble(std::string_view stored);

// Trims blanks, tabs, CR and LF on both ends.
std::string_view Trim(std::string_view text);
// ASCII case-insensitive equality.
bool EqualsNoCase(std::string_view a, std::string_view b);
// ASCII case-insensitive prefix test.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

}  // namespace brindlex
