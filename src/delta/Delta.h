#pragma once
// Binary patches between two versions of a file: one zstd frame of the new file compressed with
// the old file as its prefix ("patch-from"), long-distance matching on and a window that spans
// the old file, so that what the two share costs a few bytes wherever it moved to.

#include <cstdint>
#include <filesystem>

#include "platform/FreeSpace.h"

namespace tandor {

// The largest window a patch may ask for: the old file must fit in it.
constexpr std::uint64_t kMostPatchWindow = std::uint64_t{2} << 30;

// The most bytes a machine fetches for a patch from an installed file of `oldBytes`: half of it
// and a little for small files, past which the whole file costs about as much.
std::uint64_t MostPatchBytes(std::uint64_t oldBytes);

// Writes a patch from `oldFile` to `newFile` into `patch` (replaced if it exists). Throws
// RuntimeError when a file cannot be read or written, or the old file is larger than the
// window allows.
void CreatePatch(const std::filesystem::path& oldFile, const std::filesystem::path& newFile,
                 const std::filesystem::path& patch, int level = 19);

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
