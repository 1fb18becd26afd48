#include "sync/Rollout.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>

#include "platform/Prefix.h"
#include "text/TextCase.h"
#include "util/Integrity.h"

namespace tandor {

namespace {

constexpr const char* kTandorKey = "SOFTWARE\\Tandor";
constexpr std::size_t kMachineIdBytes = 16;

bool IsMachineId(std::string_view text) {
  return text.size() == 2 * kMachineIdBytes &&
         std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(c) != 0; });
}

}  // namespace

std::string MachineId(const Prefix& machine) {
  const std::string stored = machine.ReadRegistryValue(kTandorKey, "MachineId").value_or("");
  if (IsMachineId(stored)) return LowerAscii(stored);
  if (sodium_init() < 0) std::abort();
  std::array<unsigned char, kMachineIdBytes> bytes{};
  randombytes_buf(bytes.data(), bytes.size());
  std::array<char, 2 * kMachineIdBytes + 1> hex{};
  sodium_bin2hex(hex.data(), hex.size(), bytes.data(), bytes.size());
  const std::string made(hex.data(), 2 * kMachineIdBytes);
  machine.WriteRegistryValue(kTandorKey, "MachineId", made);
  return made;
}

int RolloutBucket(std::string_view product, std::string_view machineId) {
  const std::string input = LowerAscii(product) + '\0' + LowerAscii(machineId);
  Sha256Stream stream;
  stream.Update(input.data(), input.size());
  const Sha256Digest digest = stream.Final();
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 8; ++i) value = (value << 8) | digest[i];
  return static_cast<int>(value % 100);
}

bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name.find_first_of("/\\") == std::string_view::npos &&
         name.find("..") == std::string_view::npos;
}

}  // namespace tandor
