#pragma once
// Test data for transfers: bytes that differ from position to position, so that a chunk landing
// in the wrong place shows, and the progress events a transfer of a given size raises.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tandor::test {

using TransferEvents = std::vector<std::pair<std::int64_t, std::int64_t>>;

inline std::string PatternBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return bytes;
}

// One event per full chunk of 10240 bytes, then one for the whole size.
inline TransferEvents ChunkEvents(std::int64_t size) {
  TransferEvents events;
  for (std::int64_t count = 10240; count <= size; count += 10240) events.emplace_back(count, size);
  events.emplace_back(size, size);
  return events;
}

}  // namespace tandor::test
