#pragma once
// Receives a download in 10240-byte chunks: for each full chunk the message loop runs once and a
// progress event follows. The bytes go to a temporary file beside the target in writes of up to
// 256 KiB; only a complete download gets the target's name. A download that would leave less than
// the disk's margin (FreeSpaceMarginOf) free stops before it does.

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "platform/FileDescriptor.h"
#include "platform/FreeSpace.h"
#include "transfer/TransferEvents.h"
#include "util/Integrity.h"

namespace tandor {

class ChunkedDownload {
 public:
  ChunkedDownload(std::filesystem::path target, const FtpEvents& events);
  ~ChunkedDownload();  // removes an unfinished temporary file
  ChunkedDownload(const ChunkedDownload&) = delete;
  ChunkedDownload& operator=(const ChunkedDownload&) = delete;

  // The announced size; -1 while it is not known (the chunk events then carry -1 as their
  // total, and the last event the size received). Chunks are counted against it.
  void SetTotal(std::int64_t total) { mTotal = total; }
  std::int64_t Total() const { return mTotal; }
  // When set, a download may end with more or fewer bytes than announced (text-mode transfers
  // change line ends on the way).
  void AllowSizeChange() { mExactSize = false; }
  bool ExactSize() const { return mExactSize; }
  // The bytes are hashed as they are written (on a thread of their own, block by block);
  // Finish renames only a file with this digest.
  void ExpectSha256(const Sha256Digest& digest) {
    mExpected = digest;
    mHash.emplace();
  }

  // Where the free space of the target's disk comes from (it must outlive the download); the
  // file system's when none or empty.
  void SetFreeSpaceSource(const FreeSpaceSource* source) { mFreeSpace = source; }

  // For a download with an expected digest: a part that an earlier attempt left in `partial`
  // becomes the start of this one (its bytes are hashed once, now), and this attempt's part is
  // kept there when it fails after at least ResumeMinimum bytes of a size the server announced.
  // Offset() tells where the server is to start.
  static constexpr std::int64_t ResumeMinimum = 1 << 20;
  void ResumeFrom(const std::filesystem::path& partial);
  std::int64_t Offset() const { return mOffset; }
  // The server sends the whole file after all: the kept part goes.
  void Restart();

  // Runs before each piece of bytes is taken, with its size, and may hold the download back
  // meanwhile (a cap on the rate). What it throws fails the download as an event's exception does.
  void SetPacer(std::function<void(std::size_t)> pacer) { mPacer = std::move(pacer); }

  // The file may not grow past `bytes`: an announced size above it is refused before the first
  // byte is taken, any other download stops at the byte that passes it.
  void SetLimit(std::int64_t bytes) { mLimit = bytes; }
  std::int64_t Limit() const { return mLimit; }

  // Takes bytes as they arrive. False means stop: more bytes than announced (Overflowed), past
  // the limit (OverLimit), or a local failure (a disk too full among them) or an exception from
  // an event handler (Failure).
  bool Take(const char* data, std::size_t size);
  // After the last byte: writes the partial chunk, gives the file the target's name (in one
  // rename over a file that has it) and raises the last event. Throws RuntimeError when the local
  // file fails or its digest is not the expected one (the temporary file is then removed and the
  // target left as it was).
  void Finish();

  std::int64_t Received() const { return mReceived; }
  bool Overflowed() const { return mOverflowed; }
  bool OverLimit() const { return mOverLimit; }
  std::exception_ptr Failure() const { return mFailure; }

 private:
  void OpenTemporary();
  // Throws when the disk cannot take what is still to come and keep its margin free.
  void CheckFreeSpace(std::size_t arriving);
  void WriteOut(const char* data, std::size_t size);
  void Flush();
  void Close();

  std::filesystem::path mTarget;
  std::filesystem::path mTemporary;
  const FtpEvents& mEvents;
  FileDescriptor mFd;
  bool mUnnamed = false;  // mFd has no name yet (mTemporary is then empty)
  std::int64_t mTotal = -1;
  bool mExactSize = true;
  std::int64_t mReceived = 0;
  std::int64_t mCount = 0;    // bytes in full chunks announced so far
  std::vector<char> mBuffer;  // received, not yet written
  bool mOverflowed = false;
  std::int64_t mLimit = -1;  // none
  const FreeSpaceSource* mFreeSpace = nullptr;
  std::int64_t mNextSpaceCheck = 0;      // at this count of received bytes
  std::optional<std::uint64_t> mMargin;  // what stays free on the target's disk, once known
  bool mOverLimit = false;
  std::exception_ptr mFailure;
  std::function<void(std::size_t)> mPacer;
  std::optional<Sha256Digest> mExpected;
  std::filesystem::path mPartial;
  std::int64_t mOffset = 0;  // bytes taken over from an earlier attempt
  bool mDiscard = false;     // what arrived is wrong: nothing is kept for a next attempt
  std::optional<Sha256Pipe> mHash;
};

}  // namespace tandor
