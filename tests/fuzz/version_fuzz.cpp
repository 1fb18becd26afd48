// libFuzzer target (-DTANDOR_FUZZ=ON, clang): any bytes as an executable image and as the raw
// structure; run as version_fuzz -max_total_time=300 <scratch corpus> tests/fuzz/corpus

#include <cstddef>
#include <cstdint>
#include <span>

#include "util/VersionResource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> bytes(data, size);
  (void)tandor::ReadVersionFields(bytes, tandor::CodePage());
  (void)tandor::ReadVersionFields(bytes, tandor::CodePage(949));
  if (auto resource = tandor::VersionResource::FromBlock(bytes)) {
    (void)resource->Fields(tandor::CodePage());
    (void)resource->FileVersion();
  }
  return 0;
}
