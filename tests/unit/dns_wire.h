// Hand-made DNS datagrams for the forwarder's tests, written byte by byte
// so that they do not depend on the encoder under test.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace brindlex::dnswire {

inline std::string Word(std::uint16_t value) {
  return std::string{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

inline std::string Long(std::uint32_t value) {
  return Word(static_cast<std::uint16_t>(value >> 16)) + Word(value & 0xFFFF);
}

// "www.example.com" as labels and the end byte.
inline std::string Labels(std::string_view dotted) {
  std::string wire;
  while (!dotted.empty()) {
    std::size_t dot = dotted.find('.');
    std::string_view label = dotted.substr(0, dot);
    wire += static_cast<char>(label.size());
    wire.append(label);
    dotted = dot == std::string_view::npos ? std::string_view() : dotted.substr(dot + 1);
  }
  return wire + '\0';
}

inline std::string Header(std::uint16_t id, std::uint16_t flags, std::uint16_t questions, std::uint16_t answers) {
  return Word(id) + Word(flags) + Word(questions) + Word(answers) + Word(0) + Word(0);
}

// A standard query with recursion desired.
inline std::string Query(std::uint16_t id, std::string_view name, std::uint16_t type = 1) {
  return Header(id, 0x0100, 1, 0) + Labels(name) + Word(type) + Word(1);
}

inline std::string ARecord(const std::string& owner, std::uint32_t ttl, std::initializer_list<int> address) {
  std::string data;
  for (int octet : address) data += static_cast<char>(octet);
  return owner + Word(1) + Word(1) + Long(ttl) + Word(4) + data;
}

inline std::string CnameRecord(const std::string& owner, std::uint32_t ttl, const std::string& target) {
  return owner + Word(5) + Word(1) + Long(ttl) + Word(static_cast<std::uint16_t>(target.size())) + target;
}

// A pointer to the question name of any message built here.
inline const std::string kQuestionName = std::string("\xC0\x0C", 2);

// A recursive server's answer (QR, RD, RA) to a question of type A.
inline std::string Response(std::uint16_t id, std::string_view name, std::initializer_list<std::string> records,
                            int rcode = 0) {
  std::string message =
      Header(id, static_cast<std::uint16_t>(0x8180 | rcode), 1, static_cast<std::uint16_t>(records.size())) +
      Labels(name) + Word(1) + Word(1);
  for (const std::string& record : records) message += record;
  return message;
}

}  // namespace brindlex::dnswire
