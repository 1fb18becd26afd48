#include "transfer/ChunkedDownload.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/Error.h"
#include "platform/FileIo.h"

namespace tandor {

namespace {

constexpr std::size_t kWriteSize = 256 * 1024;

// How often the free space is looked at, beside the first byte: often enough to stop well
// before the disk is full, rarely enough to cost nothing.
constexpr std::int64_t kSpaceCheckInterval = 4 << 20;

std::string MebibyteText(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
  return text;
}

[[noreturn]] void ThrowFileError(int error, const std::filesystem::path& file) {
  throw RuntimeError(ErrorNumberFromErrno(error), file.string() + ": " + ErrnoText(error));
}

}  // namespace

ChunkedDownload::ChunkedDownload(std::filesystem::path target, const FtpEvents& events)
    : mTarget(std::move(target)), mEvents(events) {}

ChunkedDownload::~ChunkedDownload() {
  mFd.Close();  // before the file is renamed or removed
  if (mTemporary.empty()) return;
  // A part is kept only of a size the server announced (a stream without one may have no end),
  // and a resumed attempt that brought nothing new gives its part up, so that a part the server
  // no longer matches cannot block the file for ever.
  const bool keep = !mPartial.empty() && !mDiscard && mTotal >= 0 &&
                    mOffset + mReceived >= ResumeMinimum && (mOffset == 0 || mReceived > 0);
  if (!keep || ::rename(mTemporary.c_str(), mPartial.c_str()) != 0) ::unlink(mTemporary.c_str());
}

void ChunkedDownload::ResumeFrom(const std::filesystem::path& partial) {
  if (!mExpected) return;
  mPartial = partial;
  mTemporary = TemporarySibling(mTarget);
  mFd = FileDescriptor(TakeOverFile(partial, mTemporary));
  if (mFd.Get() < 0) {
    ForgetTemporary(mTemporary);
    mTemporary.clear();
    return;
  }
  std::vector<char> block(kWriteSize);
  for (;;) {
    const ssize_t got = ::read(mFd.Get(), block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ThrowFileError(errno, mTarget);
    if (got == 0) break;
    block.resize(static_cast<std::size_t>(got));
    block = mHash->Push(std::move(block));
    block.resize(kWriteSize);
    mOffset += got;
  }
}

void ChunkedDownload::Restart() {
  if (mOffset == 0) return;
  if (::ftruncate(mFd.Get(), 0) != 0) ThrowFileError(errno, mTarget);
  mHash.emplace();
  mOffset = 0;
}

void ChunkedDownload::OpenTemporary() {
  // A download that keeps no part for a later attempt goes to an unnamed file: a new file then
  // costs no rename, and a pass killed on the way leaves nothing behind.
  if (mPartial.empty()) {
    mFd = FileDescriptor(OpenUnnamedFile(mTarget.parent_path()));
    mUnnamed = mFd.Get() >= 0;
    if (mUnnamed) return;
  }
  mTemporary = TemporarySibling(mTarget);
  mFd = FileDescriptor(
      ::open(mTemporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (mFd.Get() < 0) {
    const int error = errno;
    mTemporary.clear();
    ThrowFileError(error, mTarget);
  }
}

void ChunkedDownload::CheckFreeSpace(std::size_t arriving) {
  mNextSpaceCheck = mReceived + kSpaceCheckInterval;
  std::filesystem::path folder = mTarget.parent_path();
  if (folder.empty()) folder = ".";
  const std::uint64_t free =
      mFreeSpace != nullptr && *mFreeSpace ? (*mFreeSpace)(folder) : AvailableSpace(folder);
  if (!mMargin) mMargin = FreeSpaceMarginOf(folder);
  // The rest of an announced size, or what may arrive until the next look.
  const auto coming = static_cast<std::uint64_t>(std::max<std::int64_t>(
      mTotal >= 0 ? mTotal - mReceived : kSpaceCheckInterval, static_cast<std::int64_t>(arriving)));
  if (free >= coming && free - coming >= *mMargin) return;
  mDiscard = true;
  // A file of no announced size (an endless stream among them) is stopped here, before the
  // disk is full: the text says what the server did not.
  throw RuntimeError(ErrorNumberFromErrno(ENOSPC),
                     mTarget.filename().string() + ": not enough room on the disk: " +
                         MebibyteText(free) + " free, " + MebibyteText(coming) +
                         (mTotal >= 0 ? " still to come"
                                      : " more coming after " + MebibyteText(mReceived) +
                                            " of a file whose size the server did not announce") +
                         ", and " + MebibyteText(*mMargin) + " must stay free",
                     ENOSPC);
}

void ChunkedDownload::WriteOut(const char* data, std::size_t size) {
  if (mFd.Get() < 0) OpenTemporary();
  while (size > 0) {
    ssize_t written = ::write(mFd.Get(), data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      ThrowFileError(errno, mTarget);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

void ChunkedDownload::Flush() {
  WriteOut(mBuffer.data(), mBuffer.size());
  if (mHash) mBuffer = mHash->Push(std::move(mBuffer));
  mBuffer.clear();
}

bool ChunkedDownload::Take(const char* data, std::size_t size) {
  const std::int64_t reach = mReceived + static_cast<std::int64_t>(size);
  if (mExactSize && mTotal >= 0 && reach > mTotal) {
    mOverflowed = true;
    return false;
  }
  if (mLimit >= 0 && mOffset + std::max(reach, mTotal) > mLimit) {
    mOverLimit = mDiscard = true;
    return false;
  }
  try {
    if (mPacer) mPacer(size);
    if (mReceived >= mNextSpaceCheck) CheckFreeSpace(size);
    mReceived += static_cast<std::int64_t>(size);
    // Few large writes: a write per chunk costs more than the copy into the buffer.
    if (mBuffer.size() + size > kWriteSize) Flush();
    if (size >= kWriteSize && !mHash)
      WriteOut(data, size);
    else
      mBuffer.insert(mBuffer.end(), data, data + size);
    while (mReceived - mCount >= TransferChunkSize) {
      mCount += TransferChunkSize;
      if (mEvents.ProcessPendingMessages) mEvents.ProcessPendingMessages();
      if (mEvents.FileTransferProgress) mEvents.FileTransferProgress(mCount, mTotal);
    }
  } catch (...) {
    mFailure = std::current_exception();
    return false;
  }
  return true;
}

void ChunkedDownload::Close() {
  if (!mFd.Close()) ThrowFileError(errno, mTarget);
}

void ChunkedDownload::Finish() {
  WriteOut(mBuffer.data(), mBuffer.size());  // also creates the file of an empty download
  // An unnamed file lives only as long as it is open: it is closed once it has its name.
  if (!mUnnamed) Close();
  if (mExpected) {
    const Sha256Digest actual = mHash->Final({mBuffer.data(), mBuffer.size()});
    mDiscard = actual != *mExpected;
    if (mDiscard)
      throw RuntimeError(err::PathFileAccess,
                         mTarget.filename().string() + ": SHA-256 mismatch, the manifest says " +
                             Sha256Hex(*mExpected) + ", the download is " + Sha256Hex(actual) +
                             "; the file was not installed");
  }
  if (mUnnamed) {
    if (const int error = LinkUnnamedFile(mFd.Get(), mTarget)) ThrowFileError(error, mTarget);
    Close();
  } else {
    if (::rename(mTemporary.c_str(), mTarget.c_str()) != 0) ThrowFileError(errno, mTarget);
    ForgetTemporary(mTemporary);
    mTemporary.clear();
  }
  if (!mExactSize || mTotal < 0) mTotal = mReceived;
  if (mEvents.FileTransferProgress) mEvents.FileTransferProgress(mTotal, mTotal);
}

}  // namespace tandor
