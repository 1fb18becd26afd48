#pragma once
// Status codes of an extraction run. They are the codes of the Info-ZIP library, so that the
// update window can keep judging them the way it always has: 0 is success, 50 tells the user to
// close a program that may hold a file, anything else is a failed extraction.

#include <cstdint>

namespace tandor::unzipstatus {

constexpr std::int32_t Ok = 0;
// Something was left out: an entry skipped for want of a password, or an empty archive.
constexpr std::int32_t Warning = 1;
// An entry failed: damaged data, a bad CRC, or a name that would leave the target folder.
constexpr std::int32_t EntryError = 2;
// The archive itself is damaged past the point where entries can be read.
constexpr std::int32_t SevereError = 3;
// The archive is missing, unreadable or not a zip archive (a cut-off archive is not one).
constexpr std::int32_t NoZip = 9;
// An output file could not be written: a folder that cannot be written, a file that cannot be
// replaced, a full disk.
constexpr std::int32_t DiskError = 50;
// Every file entry was encrypted and none could be read with the password given.
constexpr std::int32_t BadPassword = 82;

}  // namespace tandor::unzipstatus
