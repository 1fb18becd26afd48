#include "platform/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <utility>

#include "platform/FileDescriptor.h"

namespace tandor {

std::optional<MappedFile> MappedFile::Open(const std::filesystem::path& file, bool whole) {
  // Closed when the mapping is made or has failed; the mapping outlives it.
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  if (info.st_size == 0) return MappedFile(nullptr, 0);
  // A file larger than the address space cannot be mapped and holds no resource we read.
  if (static_cast<std::uintmax_t>(info.st_size) > SIZE_MAX) return std::nullopt;
  auto size = static_cast<std::size_t>(info.st_size);
  void* address =
      ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | (whole ? MAP_POPULATE : 0), fd.Get(), 0);
  if (address == MAP_FAILED) return std::nullopt;
  return MappedFile(address, size);
}

MappedFile::~MappedFile() {
  Release();
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : mAddress(std::exchange(other.mAddress, nullptr)), mSize(std::exchange(other.mSize, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Release();
    mAddress = std::exchange(other.mAddress, nullptr);
    mSize = std::exchange(other.mSize, 0);
  }
  return *this;
}

void MappedFile::Release() {
  if (mAddress != nullptr) ::munmap(mAddress, mSize);
  mAddress = nullptr;
  mSize = 0;
}

}  // namespace tandor
