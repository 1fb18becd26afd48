#pragma once
// One entry of a remote listing.

#include <cstdint>
#include <string>

namespace tandor {

// File attribute bits as listings report them.
namespace attr {
constexpr std::uint32_t ReadOnly = 0x1;
constexpr std::uint32_t Hidden = 0x2;
constexpr std::uint32_t System = 0x4;
constexpr std::uint32_t Directory = 0x10;
constexpr std::uint32_t Archive = 0x20;
constexpr std::uint32_t Normal = 0x80;
constexpr std::uint32_t Temporary = 0x100;
constexpr std::uint32_t Compressed = 0x800;
constexpr std::uint32_t Offline = 0x1000;
}  // namespace attr

// Times are date values: days since 30 December 1899 00:00 local time, the time of day as the
// fraction.
struct DirItem {
  bool ReadOnly = false;
  bool Hidden = false;
  bool System = false;
  bool Directory = false;
  bool Archive = false;
  bool Normal = false;
  bool Temporary = false;
  bool Compressed = false;
  bool Offline = false;
  double CreationTime = 0;
  double LastAccessTime = 0;
  double LastWriteTime = 0;
  std::int64_t FileSize = 0;
  std::string FileName;
};

}  // namespace tandor
