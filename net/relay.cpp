#include "net/relay.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/connection.h"
#include "net/protocol_handlers.h"

namespace brindlex {

void QueueToClient(ConnectionRecord& record, const char* bytes, size_t length) {
  if (length == 0) return;
  size_t needed = static_cast<size_t>(record.clientOutLength) + length;
  if (needed > static_cast<size_t>(record.clientOutCapacity)) {
    size_t capacity = std::max(needed, static_cast<size_t>(record.clientOutCapacity) * 2);
    std::unique_ptr<char[]> grown(new char[capacity]);
    std::memcpy(grown.get(), record.clientOut.get(), static_cast<size_t>(record.clientOutLength));
    record.clientOut.Replace(std::move(grown));
    record.clientOutCapacity = static_cast<int>(capacity);
  }
  std::memcpy(record.clientOut.get() + record.clientOutLength, bytes, length);
  record.clientOutLength += static_cast<int>(length);
}

void QueueToClient(ConnectionRecord& record, std::string_view text) { QueueToClient(record, text.data(), text.size()); }

void ReplaceClientOutput(ConnectionRecord& record, std::string_view text) {
  record.clientOutLength = 0;
  QueueToClient(record, text);
  record.clientInLength = 0;
}

namespace {
void ShiftDown(char* source, int& sourceLength, int moved) {
  if (moved <= 0) return;
  std::memmove(source, source + moved, static_cast<size_t>(sourceLength - moved));
  sourceLength -= moved;
}
}  // namespace

void MoveToClient(ConnectionRecord& record, char* source, int& sourceLength) {
  int room = record.clientOutCapacity - record.clientOutLength;
  int moved = std::min(room, sourceLength);
  // An HTTP response is read on its way through (the cache, the document
  // size check); it may hold bytes back or drop a refused answer.
  if (auto bytesToMove = HandlersOf(record.service).serverBytesToMove)
    moved = bytesToMove(record, source, sourceLength, moved);
  if (moved > 0) {
    std::memcpy(record.clientOut.get() + record.clientOutLength, source, static_cast<size_t>(moved));
    record.clientOutLength += moved;
    ShiftDown(source, sourceLength, moved);
  }
  if (record.clientClosed) record.clientOutLength = 0;
}

void MoveToServer(ConnectionRecord& record, char* source, int& sourceLength) {
  int moved = std::min(kBufferSize - record.serverOutLength, sourceLength);
  if (moved <= 0) return;
  std::memcpy(record.serverOut + record.serverOutLength, source, static_cast<size_t>(moved));
  record.serverOutLength += moved;
  ShiftDown(source, sourceLength, moved);
}

namespace {

void DropInput(char* input, int& length, size_t count) {
  size_t have = static_cast<size_t>(length);
  count = std::min(count, have);
  std::memmove(input, input + count, have - count);
  length = static_cast<int>(have - count);
}

}  // namespace

void DropClientInput(ConnectionRecord& r, size_t count) { DropInput(r.clientIn, r.clientInLength, count); }
void DropServerInput(ConnectionRecord& r, size_t count) { DropInput(r.serverIn, r.serverInLength, count); }

}  // namespace brindlex
