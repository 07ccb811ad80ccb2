// The administration channel's frame reader and payload parsers: the reader
// never takes a frame longer than its limit, cuts the same frames whether the
// bytes come whole or one by one, and every frame it takes encodes back to
// the bytes it came from; the payload parsers read only what they are given.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/admin_frame.h"

using namespace brindlex;

namespace {

std::vector<Frame> Cut(std::string_view input, std::size_t step, bool& broken) {
  FrameReader reader(kFrameLimitBeforeLogin);
  std::vector<Frame> frames;
  for (std::size_t at = 0; at < input.size(); at += step) {
    reader.Feed(input.substr(at, step));
    while (std::optional<Frame> frame = reader.Take()) frames.push_back(std::move(*frame));
  }
  broken = reader.Broken();
  return frames;
}

void ParseAll(const Frame& frame) {
  std::uint32_t id = 0;
  std::uint16_t number = 0;
  bool ok = false;
  std::string_view rest;
  std::string host;
  AdminPush push{};
  Hello hello;
  ParseHello(frame.payload, hello);
  ParseWelcome(frame.payload, number, host);
  ParseCall(frame.payload, id, number, rest);
  ParseReply(frame.payload, id, ok, rest);
  ParseAbort(frame.payload, id);
  ParseProgress(frame.payload, id, rest);
  ParsePush(frame.payload, push, rest);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  bool brokenWhole = false;
  bool brokenBytes = false;
  std::vector<Frame> whole = Cut(input, size == 0 ? 1 : size, brokenWhole);
  std::vector<Frame> bytes = Cut(input, 1, brokenBytes);
  if (whole.size() != bytes.size() || brokenWhole != brokenBytes) __builtin_trap();
  std::string again;
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (whole[i].kind != bytes[i].kind || whole[i].payload != bytes[i].payload) __builtin_trap();
    if (whole[i].payload.size() + 1 > kFrameLimitBeforeLogin) __builtin_trap();
    again += EncodeFrame(whole[i].kind, whole[i].payload);
    ParseAll(whole[i]);
  }
  if (input.substr(0, again.size()) != again) __builtin_trap();
  return 0;
}
