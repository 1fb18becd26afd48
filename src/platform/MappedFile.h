#pragma once
// A regular file mapped read-only into memory, for readers that look at a few structures of a
// possibly large file (an executable's headers and resources) without reading all of it.
// The mapping is private and read-only; a file that another process cuts short while it is
// mapped would fault on access, so it is meant for files that nobody is writing at the time.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace tandor {

class MappedFile {
 public:
  // Nothing when the file cannot be opened, is not a regular file or cannot be mapped. An empty
  // file maps to an empty span. `whole`: every page is read in at once, for a reader that goes
  // through all of the file (far quicker than a fault per page).
  static std::optional<MappedFile> Open(const std::filesystem::path& file, bool whole = false);

  ~MappedFile();
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::span<const std::uint8_t> Bytes() const {
    return {static_cast<const std::uint8_t*>(mAddress), mSize};
  }

 private:
  MappedFile(void* address, std::size_t size) : mAddress(address), mSize(size) {}
  void Release();

  void* mAddress = nullptr;
  std::size_t mSize = 0;
};

}  // namespace tandor
