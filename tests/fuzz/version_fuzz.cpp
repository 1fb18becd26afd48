// libFuzzer target: any bytes, read as an executable image, through the whole version-resource
// reader. Build with -DTANDOR_FUZZ=ON and clang; run as
//   version_fuzz -max_total_time=300 <scratch corpus> tests/fuzz/corpus

#include <cstddef>
#include <cstdint>
#include <span>

#include "util/VersionResource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> bytes(data, size);
  static const tandor::CodePage kUtf8;
  static const tandor::CodePage kKorean(949);
  (void)tandor::ReadVersionFields(bytes, kUtf8);
  (void)tandor::ReadVersionFields(bytes, kKorean);
  // The raw structure on its own, as it sits in the ELF section.
  if (auto resource = tandor::VersionResource::FromBlock(bytes)) {
    (void)resource->Fields(kUtf8);
    (void)resource->FileVersion();
    (void)resource->ProductVersion();
  }
  return 0;
}
