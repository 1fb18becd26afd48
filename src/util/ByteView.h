#pragma once
// Bounds-checked reads of integers and ranges from untrusted bytes (file headers, resources).
// Every read that would reach past the end yields nothing instead; offsets are 64-bit so that
// sums of 32-bit fields from a file cannot wrap.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tandor {

class ByteView {
 public:
  explicit ByteView(std::span<const std::uint8_t> bytes, bool bigEndian = false)
      : mBytes(bytes), mBigEndian(bigEndian) {}

  std::uint64_t Size() const { return mBytes.size(); }
  std::span<const std::uint8_t> Bytes() const { return mBytes; }

  // `length` bytes at `offset`, when all of them lie inside the view.
  std::optional<std::span<const std::uint8_t>> Slice(std::uint64_t offset,
                                                     std::uint64_t length) const {
    if (offset > mBytes.size() || length > mBytes.size() - offset) return std::nullopt;
    return mBytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
  }

  std::optional<std::uint16_t> U16(std::uint64_t offset) const {
    auto value = Read(offset, 2);
    if (!value) return std::nullopt;
    return static_cast<std::uint16_t>(*value);
  }
  std::optional<std::uint32_t> U32(std::uint64_t offset) const {
    auto value = Read(offset, 4);
    if (!value) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
  }
  std::optional<std::uint64_t> U64(std::uint64_t offset) const { return Read(offset, 8); }

 private:
  std::optional<std::uint64_t> Read(std::uint64_t offset, std::size_t width) const {
    auto bytes = Slice(offset, width);
    if (!bytes) return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
      std::size_t index = mBigEndian ? i : width - 1 - i;
      value = (value << 8) | (*bytes)[index];
    }
    return value;
  }

  std::span<const std::uint8_t> mBytes;
  bool mBigEndian;
};

}  // namespace tandor
