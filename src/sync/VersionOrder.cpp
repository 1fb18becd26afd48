#include "sync/VersionOrder.h"

#include "text/TextCase.h"

namespace tandor {

namespace {

// Class rank in the high bits, the case-folded character code in the low bits.
int Weight(unsigned char c) {
  c = static_cast<unsigned char>(LowerAscii(static_cast<char>(c)));
  int rank = 0;
  if (c >= '0' && c <= '9') {
    rank = 1;
  } else if (c >= 'a' && c <= 'z') {
    rank = 2;
  } else if (c >= 0x80) {
    rank = 3;  // UTF-8 bytes: their order is the order of the code points
  }
  return rank << 8 | c;
}

}  // namespace

int CompareVersions(std::string_view a, std::string_view b) {
  std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    int wa = Weight(static_cast<unsigned char>(a[i]));
    int wb = Weight(static_cast<unsigned char>(b[i]));
    if (wa != wb) return wa < wb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace tandor
