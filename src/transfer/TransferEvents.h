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
};

// Every transfer moves in chunks of this size: one progress event per chunk.
constexpr std::int64_t TransferChunkSize = 10240;

}  // namespace tandor
