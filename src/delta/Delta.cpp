#include "delta/Delta.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "delta/DeltaParts.h"
#include "delta/MatchDiff.h"
#include "platform/Error.h"
#include "platform/FileDescriptor.h"
#include "platform/FreeSpace.h"
#include "platform/MappedFile.h"

namespace tandor {

namespace fs = std::filesystem;

namespace delta {

[[noreturn]] void Fail(const std::string& text) {
  throw RuntimeError(err::PathFileAccess, text);
}

[[noreturn]] void FailFile(int error, const fs::path& file) {
  throw RuntimeError(ErrorNumberFromErrno(error), file.string() + ": " + ErrnoText(error), error);
}

MappedFile Map(const fs::path& file) {
  errno = 0;
  std::optional<MappedFile> mapped = MappedFile::Open(file, true);
  if (!mapped) FailFile(errno ? errno : EINVAL, file);
  return std::move(*mapped);
}

void Check(std::size_t code, const std::string& what) {
  if (ZSTD_isError(code)) Fail(what + ": " + ZSTD_getErrorName(code));
}

int WindowLogFor(std::uint64_t bytes) {
  const int log = static_cast<int>(std::bit_width(std::max<std::uint64_t>(bytes, 1) - 1));
  return std::clamp(log, ZSTD_WINDOWLOG_MIN, ZSTD_WINDOWLOG_MAX_64);
}

}  // namespace delta

using delta::Check;
using delta::Fail;
using delta::FailFile;
using delta::Map;

namespace {

struct DCtxFree {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;  // Linux 5.14 on
#endif

// A new file's bytes, mapped for writing; the file goes again unless Keep is called.
class ResultFile {
 public:
  ResultFile(const fs::path& file, std::uint64_t size) : mFile(file), mSize(size) {
    mFd = FileDescriptor(
        ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (mFd.Get() < 0) FailFile(errno, file);
    mCreated = true;
    if (size == 0) return;
    // Room first: a write into a mapping of a file the disk cannot hold would kill the process.
    if (const int error = ::posix_fallocate(mFd.Get(), 0, static_cast<off_t>(size)))
      FailFile(error, file);
    mAddress = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, mFd.Get(), 0);
    if (mAddress == MAP_FAILED) {
      mAddress = nullptr;
      FailFile(errno, file);
    }
    // The pages are made writable ahead of the decompressor, a few MiB at a time on a thread of
    // their own, rather than by a fault each (older kernels fault).
    mPopulate = std::thread([address = static_cast<char*>(mAddress), size, this] {
      constexpr std::uint64_t kStep = 8 << 20;
      for (std::uint64_t at = 0; at < size && !mStop; at += kStep)
        ::madvise(address + at, std::min(kStep, size - at), kPopulateWrite);
    });
  }
  ~ResultFile() {
    StopPopulating();
    if (mAddress) ::munmap(mAddress, mSize);
    mFd.Close();
    if (mCreated) ::unlink(mFile.c_str());
  }
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;

  void* Bytes() const { return mAddress; }
  void Keep() {
    StopPopulating();
    if (mAddress && ::munmap(mAddress, mSize) != 0) FailFile(errno, mFile);
    mAddress = nullptr;
    if (!mFd.Close()) FailFile(errno, mFile);
    mCreated = false;
  }

 private:
  void StopPopulating() {
    mStop = true;
    if (mPopulate.joinable()) mPopulate.join();
  }

  fs::path mFile;
  std::uint64_t mSize;
  std::thread mPopulate;
  std::atomic<bool> mStop{false};
  FileDescriptor mFd;
  void* mAddress = nullptr;
  bool mCreated = false;
};

}  // namespace

void ApplyPatch(const fs::path& oldFile, const fs::path& patch, const fs::path& result,
                std::uint64_t margin, const FreeSpaceSource& freeSpace) {
  const MappedFile before = Map(oldFile);
  const MappedFile changes = Map(patch);
  const auto oldBytes = before.Bytes();
  const auto patchBytes = changes.Bytes();

  const std::string name = patch.filename().string();
  const std::string notApplying = name + " does not apply to " + oldFile.filename().string();
  const std::string_view family = kMatchDiffMagic.substr(0, kMatchDiffMagic.size() - 1);
  const bool matched = patchBytes.size() >= kMatchDiffMagic.size() &&
                       std::equal(family.begin(), family.end(), patchBytes.begin());
  std::uint64_t size = 0;
  ZSTD_frameHeader header{};
  if (matched) {
    if (patchBytes[family.size()] != static_cast<std::uint8_t>(kMatchDiffMagic.back()))
      Fail(name + " is a patch of a kind this version does not know");
    size = MatchDiffResultSize(patchBytes, oldBytes.size(), notApplying);
  } else {
    if (ZSTD_getFrameHeader(&header, patchBytes.data(), patchBytes.size()) != 0 ||
        header.frameType != ZSTD_frame)
      Fail(name + " is no patch");
    if (header.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN || header.windowSize > kMostPatchWindow)
      Fail(name + " asks for more than 2 GiB");
    size = header.frameContentSize;
  }
  if (size > kMostPatchWindow) Fail(name + " asks for more than 2 GiB");
  fs::path folder = result.parent_path();
  if (folder.empty()) folder = ".";
  const std::uint64_t free = freeSpace ? freeSpace(folder) : AvailableSpace(folder);
  if (free < size || free - size < margin)
    throw RuntimeError(ErrorNumberFromErrno(ENOSPC),
                       result.filename().string() + ": not enough room on the disk for " +
                           std::to_string(size) + " bytes",
                       ENOSPC);

  ResultFile out(result, size);
  if (matched) {
    ApplyMatchDiff(oldBytes, patchBytes, static_cast<std::uint8_t*>(out.Bytes()), notApplying);
    out.Keep();
    return;
  }
  const std::unique_ptr<ZSTD_DCtx, DCtxFree> context(ZSTD_createDCtx());
  if (!context) Fail("no memory for a patch");
  Check(ZSTD_DCtx_refPrefix(context.get(), oldBytes.data(), oldBytes.size()), "old file");
  // One call into the mapped result: the result is its own window, nothing is buffered.
  const std::size_t made =
      ZSTD_decompressDCtx(context.get(), out.Bytes(), size, patchBytes.data(), patchBytes.size());
  if (ZSTD_isError(made)) Fail(notApplying + ": " + ZSTD_getErrorName(made));
  if (made != size) Fail(name + " is damaged");
  out.Keep();
}

std::uint64_t MostPatchBytes(std::uint64_t oldBytes) {
  constexpr std::uint64_t kAllowance = 64 << 10;
  // A server cannot make a machine fetch more than this for a patch, whatever the file.
  constexpr std::uint64_t kMost = std::uint64_t{1} << 30;
  return std::min(oldBytes / 2 + kAllowance, kMost);
}

}  // namespace tandor
