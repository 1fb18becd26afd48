#pragma once
// What a transfer needs from the program around it: letting the window process its pending
// messages, and the progress event.

#include <cstdint>
#include <functional>

namespace tandor {

struct FtpEvents {
  // Run once per full chunk, before the progress event.
  std::function<void()> ProcessPendingMessages;
  // FileTransferProgress(lCurrentBytes, lTotalBytes).
  std::function<void(std::int64_t, std::int64_t)> FileTransferProgress;
  // Run again and again while a request waits for the server, data or not (a few times a
  // second at least), so that a stalled transfer cannot make the window unresponsive.
  std::function<void()> WaitingForData;
  // Told how many bytes of data the current request has brought so far, as soon as that changes
  // (also within a chunk).
  std::function<void(std::int64_t)> BytesArrived{};
};

// Every transfer moves in chunks of this size: one progress event per chunk.
constexpr std::int64_t TransferChunkSize = 10240;

}  // namespace tandor
