#pragma once
// Binary patches between two versions of a file: one zstd frame of the new file compressed with
// the old file as its prefix ("patch-from"), long-distance matching on and a window that spans
// the old file, so that what the two share costs a few bytes wherever it moved to.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/FreeSpace.h"

namespace tandor {

// The largest window a patch may ask for: the old file must fit in it.
constexpr std::uint64_t kMostPatchWindow = std::uint64_t{2} << 30;

// The most bytes a machine fetches for a patch from an installed file of `oldBytes`: half of it
// and a little for small files, past which the whole file costs about as much.
std::uint64_t MostPatchBytes(std::uint64_t oldBytes);

// How hard CreatePatch tries. The quick patch is always made. When it is larger than
// `SmallEnough` and than 1/`SmallShare` of the new file, a match-and-difference patch is made
// and then a strong zstd patch, each only until `Least` and `PerMiB` for each MiB of the new
// file have gone by since the start, and the strong one only when `StrongOverQuick` times the
// quick patch's time still fits. The smallest is kept; a level of 0 leaves that kind out (without
// a quick patch, a match-and-difference patch is always tried, and the others too).
struct PatchEffort {
  int QuickLevel = 3;    // zstd patch-from, long-distance matching on
  int MatchLevel = 19;   // match-and-difference, its streams at this zstd level
  int StrongLevel = 19;  // zstd patch-from again
  std::size_t SmallEnough = 16 << 10, SmallShare = 4096;
  std::chrono::duration<double> Least{2.0}, PerMiB{1.0};
  int StrongOverQuick = 130;  // level 19 against level 3, as measured on real releases
};

// What CreatePatch made.
struct PatchMade {
  std::uint64_t Bytes = 0;
  std::string Method;
};

// Writes a patch from `oldFile` to `newFile` into `patch` (replaced if it exists). Throws
// RuntimeError when a file cannot be read or written, or the old file is larger than the
// window allows.
PatchMade CreatePatch(const std::filesystem::path& oldFile, const std::filesystem::path& newFile,
                      const std::filesystem::path& patch, const PatchEffort& effort = {});

// Applies `patch` to `oldFile` and writes the result into `result`, a file that must not exist
// yet (a link there is not followed). The result is as large as the patch says, at most
// kMostPatchWindow; its room is taken on the disk before a byte is written, and a disk that
// would keep less than `margin` free refuses it (the free space as `freeSpace` tells it, else as
// the file system does). Throws RuntimeError with the reason (a patch that is no patch, is
// damaged, was made from another file, asks for too large a window or result, too little room);
// `result` is then removed.
void ApplyPatch(const std::filesystem::path& oldFile, const std::filesystem::path& patch,
                const std::filesystem::path& result, std::uint64_t margin = 0,
                const FreeSpaceSource& freeSpace = {});

}  // namespace tandor
