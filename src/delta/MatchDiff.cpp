#include "delta/MatchDiff.h"

#include <zstd.h>

#include <algorithm>
#include <array>
#include <memory>

#include "delta/DeltaParts.h"
#include "util/Integrity.h"

namespace tandor {

using namespace delta;

namespace {

using Bytes = std::span<const std::uint8_t>;

std::uint64_t GetU64(Bytes bytes, std::size_t at) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value |= std::uint64_t{bytes[at + i]} << (8 * i);
  return value;
}

std::int64_t Unzigzag(std::uint64_t value) {
  return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

// One of a patch's streams, read as far as the control stream says.
class Stream {
 public:
  Stream(Bytes frame, const std::string& name)
      : mContext(ZSTD_createDCtx(), ZSTD_freeDCtx), mIn{frame.data(), frame.size(), 0},
        mName(name) {
    if (!mContext) throw std::bad_alloc();
    ZSTD_DCtx_setParameter(mContext.get(), ZSTD_d_windowLogMax, kStreamWindowLog);
  }

  // Up to `most` bytes (all of them when `exact`, else what one look gives) into `into`; how
  // many came, 0 at the stream's end.
  std::size_t Take(std::uint8_t* into, std::size_t most, bool exact) {
    ZSTD_outBuffer out{into, most, 0};
    while (out.pos < out.size && !mEnded && (exact || out.pos == 0)) {
      const std::size_t left = ZSTD_decompressStream(mContext.get(), &out, &mIn);
      if (ZSTD_isError(left)) Fail(mName + ": " + ZSTD_getErrorName(left));
      mEnded = left == 0;
      // What did not fill the output is all the decoder had: with no more input, it is cut.
      if (out.pos < out.size && !mEnded && mIn.pos == mIn.size)
        Fail(mName + ": the patch is damaged");
    }
    if (exact && out.pos < out.size) Fail(mName + ": the patch is damaged");
    return out.pos;
  }

  // The stream must end here.
  void Finish() {
    std::uint8_t more;
    if (Take(&more, 1, false) != 0 || mIn.pos != mIn.size) Fail(mName + ": the patch is damaged");
  }

 private:
  std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> mContext;
  ZSTD_inBuffer mIn;
  std::string mName;
  bool mEnded = false;
};

// The control stream's numbers, read a buffer at a time.
class Numbers {
 public:
  explicit Numbers(Stream& stream) : mStream(stream) {}
  bool AtEnd() { return mAt == mHave && Refill() == 0; }
  std::uint64_t Next(const std::string& name) {
    std::uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (mAt == mHave && Refill() == 0) break;
      const std::uint8_t byte = mBuffer[mAt++];
      value |= std::uint64_t{byte & 0x7fu} << shift;
      if (byte < 0x80) return value;
    }
    Fail(name + ": the patch is damaged");
  }

 private:
  std::size_t Refill() {
    mAt = 0;
    return mHave = mStream.Take(mBuffer.data(), mBuffer.size(), false);
  }
  Stream& mStream;
  std::array<std::uint8_t, 16384> mBuffer{};
  std::size_t mAt = 0, mHave = 0;
};

}  // namespace

std::uint64_t MatchDiffResultSize(Bytes patch, std::uint64_t oldSize, const std::string& name) {
  if (patch.size() < kHeaderBytes) Fail(name + ": the patch is damaged");
  if (GetU64(patch, kOldSizeAt) != oldSize)
    Fail(name + ": made from a file of " + std::to_string(GetU64(patch, kOldSizeAt)) + " bytes");
  std::uint64_t streams = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const std::uint64_t size = GetU64(patch, kStreamSizesAt + 8 * i);
    if (size > patch.size()) Fail(name + ": the patch is damaged");
    streams += size;
  }
  if (streams != patch.size() - kHeaderBytes) Fail(name + ": the patch is damaged");
  return GetU64(patch, kNewSizeAt);
}

void ApplyMatchDiff(Bytes old, Bytes patch, std::uint8_t* out, const std::string& name) {
  const std::uint64_t newSize = MatchDiffResultSize(patch, old.size(), name);
  std::size_t at = kHeaderBytes;
  const auto next = [&](std::size_t i) {
    const std::size_t size = GetU64(patch, kStreamSizesAt + 8 * i);
    at += size;
    return patch.subspan(at - size, size);
  };
  Stream control(next(0), name), diff(next(1), name), extra(next(2), name);
  Numbers numbers(control);
  std::uint64_t made = 0, from = 0;
  while (made < newSize) {
    const std::int64_t seek = Unzigzag(numbers.Next(name));
    const std::uint64_t same = numbers.Next(name), added = numbers.Next(name);
    const std::uint64_t start = from + static_cast<std::uint64_t>(seek);  // wraps below zero
    if (start > old.size() || same > old.size() - start || same > newSize - made ||
        added > newSize - made - same || same + added == 0)
      Fail(name + ": the patch is damaged");
    diff.Take(out + made, same, true);
    const std::uint8_t* base = old.data() + start;
    for (std::uint64_t i = 0; i < same; ++i) out[made + i] += base[i];
    made += same;
    extra.Take(out + made, added, true);
    made += added;
    from = start + same;
  }
  if (!numbers.AtEnd()) Fail(name + ": the patch is damaged");
  control.Finish();
  diff.Finish();
  extra.Finish();
  Sha256Stream digest;
  digest.Update(out, newSize);
  const Sha256Digest sha = digest.Final();
  if (!std::equal(sha.begin(), sha.end(), patch.begin() + kDigestAt))
    Fail(name + ": the result differs from the file the patch was made for");
}

}  // namespace tandor
