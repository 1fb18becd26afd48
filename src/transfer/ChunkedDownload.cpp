#include "transfer/ChunkedDownload.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Error.h"
#include "platform/FileIo.h"

namespace tandor {

namespace {

[[noreturn]] void ThrowFileError(int error, const std::filesystem::path& file) {
  throw RuntimeError(ErrorNumberFromErrno(error), file.string() + ": " + std::strerror(error));
}

}  // namespace

ChunkedDownload::ChunkedDownload(std::filesystem::path target, const FtpEvents& events)
    : mTarget(std::move(target)), mEvents(events) {
  mChunk.reserve(TransferChunkSize);
}

ChunkedDownload::~ChunkedDownload() {
  if (mFd >= 0) ::close(mFd);
  if (!mTemporary.empty()) ::unlink(mTemporary.c_str());
}

void ChunkedDownload::OpenTemporary() {
  mTemporary = TemporarySibling(mTarget);
  mFd = ::open(mTemporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (mFd < 0) {
    const int error = errno;
    mTemporary.clear();
    ThrowFileError(error, mTarget);
  }
}

void ChunkedDownload::WriteOut(const char* data, std::size_t size) {
  if (mFd < 0) OpenTemporary();
  if (mHash) mHash->Update(data, size);
  while (size > 0) {
    ssize_t written = ::write(mFd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      ThrowFileError(errno, mTarget);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

void ChunkedDownload::CompleteChunk() {
  mCount += TransferChunkSize;
  if (mEvents.ProcessPendingMessages) mEvents.ProcessPendingMessages();
  if (mEvents.FileTransferProgress) mEvents.FileTransferProgress(mCount, mTotal);
}

bool ChunkedDownload::Take(const char* data, std::size_t size) {
  if (mExactSize && mTotal >= 0 && mReceived + static_cast<std::int64_t>(size) > mTotal) {
    mOverflowed = true;
    return false;
  }
  mReceived += static_cast<std::int64_t>(size);
  try {
    while (size > 0) {
      // Full chunks straight from the library's buffer; only pieces are gathered.
      if (mChunk.empty() && size >= static_cast<std::size_t>(TransferChunkSize)) {
        WriteOut(data, TransferChunkSize);
        data += TransferChunkSize;
        size -= TransferChunkSize;
        CompleteChunk();
        continue;
      }
      const std::size_t take = std::min(size, TransferChunkSize - mChunk.size());
      mChunk.insert(mChunk.end(), data, data + take);
      data += take;
      size -= take;
      if (mChunk.size() == static_cast<std::size_t>(TransferChunkSize)) {
        WriteOut(mChunk.data(), mChunk.size());
        mChunk.clear();
        CompleteChunk();
      }
    }
  } catch (...) {
    mFailure = std::current_exception();
    return false;
  }
  return true;
}

void ChunkedDownload::Finish() {
  WriteOut(mChunk.data(), mChunk.size());  // also creates the file of an empty download
  mChunk.clear();
  const int fd = mFd;
  mFd = -1;
  if (::close(fd) != 0) ThrowFileError(errno, mTarget);
  if (mExpected) {
    const Sha256Digest actual = mHash->Final();
    if (actual != *mExpected)
      throw RuntimeError(err::PathFileAccess,
                         mTarget.filename().string() + ": SHA-256 mismatch, the manifest says " +
                             Sha256Hex(*mExpected) + ", the download is " + Sha256Hex(actual) +
                             "; the file was not installed");
  }
  if (::rename(mTemporary.c_str(), mTarget.c_str()) != 0) ThrowFileError(errno, mTarget);
  mTemporary.clear();
  if (!mExactSize || mTotal < 0) mTotal = mReceived;
  if (mEvents.FileTransferProgress) mEvents.FileTransferProgress(mTotal, mTotal);
}

}  // namespace tandor
