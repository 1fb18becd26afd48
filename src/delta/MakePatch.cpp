// Making patches: the quick zstd patch first, then, when that is not small already, a
// match-and-difference patch and a stronger zstd one, each while time allows; the smallest is
// kept.

#include <divsufsort.h>
#include <fcntl.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "delta/Delta.h"
#include "delta/DeltaParts.h"
#include "delta/MatchDiff.h"
#include "platform/Error.h"
#include "platform/FileDescriptor.h"
#include "util/Integrity.h"

namespace tandor {

namespace fs = std::filesystem;
using namespace delta;
using Bytes = std::span<const std::uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

// Binary search compares this much of a suffix at most: past it, any of the suffixes that agree
// is as good a start, and long runs of one byte do not make every look a long compare.
constexpr std::size_t kMostCompared = 4096;

std::size_t Cores() { return std::max(1u, std::thread::hardware_concurrency()); }

struct CCtxFree {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

void PutU64(std::vector<std::uint8_t>& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutVarint(std::vector<std::uint8_t>& out, std::uint64_t value) {
  for (; value >= 0x80; value >>= 7) out.push_back(static_cast<std::uint8_t>(value | 0x80));
  out.push_back(static_cast<std::uint8_t>(value));
}

std::uint64_t Zigzag(std::int64_t value) {
  return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}

std::size_t MatchLength(Bytes a, Bytes b) {
  const std::size_t most = std::min(a.size(), b.size());
  std::size_t i = 0;
  for (; i + 8 <= most; i += 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) return i + static_cast<std::size_t>(std::countr_zero(x ^ y)) / 8;
  }
  while (i < most && a[i] == b[i]) ++i;
  return i;
}

// The old file's suffixes in order, to find the longest stretch of it that a piece of the new
// file begins with; where each first two bytes begin, so that a search starts among the few
// suffixes that share them.
class SuffixIndex {
 public:
  explicit SuffixIndex(Bytes old) : mOld(old), mSuffixes(old.size()), mStarts(kKeys + 1) {
    if (!old.empty() &&
        divsufsort(old.data(), mSuffixes.data(), static_cast<saidx_t>(old.size())) != 0)
      Fail("no memory for a patch");
    // A suffix of one byte counts as that byte and a zero, and sorts first among those.
    std::size_t key = 0;
    for (std::size_t i = 0; i < mSuffixes.size(); ++i)
      for (const std::size_t its = KeyAt(static_cast<std::size_t>(mSuffixes[i])); key <= its;)
        mStarts[key++] = i;
    while (key <= kKeys) mStarts[key++] = mSuffixes.size();
    if (old.size() < kSeenBytes) return;
    mSeen.assign(std::bit_ceil(old.size()) / 64 * kSeenBitsPerByte, 0);
    mSeenShift = 64 - std::countr_zero(mSeen.size() * 64);
    for (std::size_t i = 0; i + kSeenBytes <= old.size(); ++i) {
      const std::uint64_t bit = SeenBit(old.subspan(i));
      mSeen[bit / 64] |= std::uint64_t{1} << (bit % 64);
    }
  }

  // False when no stretch of the old file matches the first 8 bytes of `target` (and so the
  // longest match is shorter); true when one may (a few times in a hundred, none does).
  bool MayMatchLong(Bytes target) const {
    if (mSeen.empty() || target.size() < kSeenBytes) return true;
    const std::uint64_t bit = SeenBit(target);
    return mSeen[bit / 64] >> (bit % 64) & 1;
  }

  // The length of the longest match of `target`'s beginning, and where it starts in `at`.
  std::int64_t Longest(Bytes target, std::int64_t& at) const {
    at = 0;
    if (target.empty()) return 0;
    const std::size_t first = std::size_t{target[0]} << 8;
    std::size_t low = target.size() > 1 ? mStarts[first | target[1]] : mStarts[first];
    std::size_t end = target.size() > 1 ? mStarts[(first | target[1]) + 1] : mStarts[first + 256];
    if (low == end) low = mStarts[first], end = mStarts[first + 256];
    if (low == end) return 0;
    std::size_t high = end - 1;
    // What the ends share with the target: everything between shares at least the less of it.
    std::size_t lowShared = Shared(low, target, 0), highShared = Shared(high, target, 0);
    while (high - low >= 2) {
      const std::size_t middle = low + (high - low) / 2;
      const std::size_t known = std::min(lowShared, highShared);
      const std::size_t shared = Shared(middle, target, known);
      const Bytes suffix = mOld.subspan(static_cast<std::size_t>(mSuffixes[middle]));
      const bool below = shared < kMostCompared && shared < suffix.size() &&
                         shared < target.size() && suffix[shared] < target[shared];
      (below ? lowShared : highShared) = shared;
      (below ? low : high) = middle;
    }
    const std::size_t lowLength = MatchLength(SuffixAt(low), target);
    const std::size_t highLength = MatchLength(SuffixAt(high), target);
    at = mSuffixes[lowLength > highLength ? low : high];
    return static_cast<std::int64_t>(std::max(lowLength, highLength));
  }

 private:
  static constexpr std::size_t kKeys = 1 << 16;
  // Every 8 bytes of the old file, hashed into a set of a few bits for each byte: most looks
  // into the new file's changed parts find no long match, and the set tells so at the cost of
  // one read instead of a search.
  static constexpr std::size_t kSeenBytes = 8, kSeenBitsPerByte = 8;
  std::uint64_t SeenBit(Bytes at) const {
    std::uint64_t word;
    std::memcpy(&word, at.data(), kSeenBytes);
    return (word * 0x9e3779b97f4a7c15u) >> mSeenShift;
  }
  std::size_t KeyAt(std::size_t i) const {
    return std::size_t{mOld[i]} << 8 | (i + 1 < mOld.size() ? mOld[i + 1] : 0);
  }
  Bytes SuffixAt(std::size_t i) const { return mOld.subspan(static_cast<std::size_t>(mSuffixes[i])); }
  // How many bytes the i-th suffix shares with `target`, knowing the first `known` agree, up to
  // kMostCompared.
  std::size_t Shared(std::size_t i, Bytes target, std::size_t known) const {
    const Bytes suffix = SuffixAt(i);
    const std::size_t most = std::min({suffix.size(), target.size(), kMostCompared});
    if (known >= most) return known;
    return known + MatchLength(suffix.subspan(known, most - known), target.subspan(known));
  }

  Bytes mOld;
  std::vector<saidx_t> mSuffixes;
  std::vector<std::size_t> mStarts;  // by the first two bytes
  std::vector<std::uint64_t> mSeen;
  int mSeenShift = 64;
};

// What the scan of one part of the new file found: its pieces but for the first one's move in
// the old file, which depends on where the part before ended, and where in the old file its
// last piece ended.
struct Streams {
  std::vector<std::uint8_t> Control, Diff, Extra;
  bool Any = false;
  std::int64_t FirstSeek = 0, End = 0;
};

// bsdiff's scan: from where the last piece ended, look for the next place where a match in the
// old file beats carrying on with the present alignment by more than a few bytes; the piece
// before it is its best-aligned stretch (kept as a difference) and the rest (kept as it is).
// Each piece is told by three numbers: how far to move in the old file first, then how many
// bytes are a difference and how many are kept as they are.
std::optional<Streams> Match(const SuffixIndex& index, Bytes old, Bytes now,
                             Clock::time_point deadline) {
  const std::int64_t oldSize = static_cast<std::int64_t>(old.size());
  const std::int64_t newSize = static_cast<std::int64_t>(now.size());
  const auto same = [&](std::int64_t inNew, std::int64_t inOld) {
    return inOld >= 0 && inOld < oldSize && old[inOld] == now[inNew];
  };
  Streams streams;
  std::int64_t scan = 0, length = 0, position = 0, lastScan = 0, lastPosition = 0, lastOffset = 0;
  std::int64_t seek = 0;  // to move before the next piece
  std::uint32_t looks = 0;
  while (scan < newSize) {
    std::int64_t oldScore = 0;
    std::int64_t scored = scan += length;
    for (; scan < newSize; ++scan) {
      if (++looks % 4096 == 0 && Clock::now() > deadline) return std::nullopt;
      if (index.MayMatchLong(now.subspan(scan))) {
        length = index.Longest(now.subspan(scan), position);
      } else {  // carrying on is as good a guess as any match this short
        position = std::clamp<std::int64_t>(scan + lastOffset, 0, oldSize);
        length = static_cast<std::int64_t>(MatchLength(old.subspan(position), now.subspan(scan)));
      }
      for (; scored < scan + length; ++scored)
        if (same(scored, scored + lastOffset)) ++oldScore;
      if ((length == oldScore && length != 0) || length > oldScore + 8) break;
      if (same(scan, scan + lastOffset)) --oldScore;
    }
    if (length == oldScore && scan != newSize) continue;

    // How far the last alignment carries forward, and the new one backward.
    std::int64_t forward = 0;
    for (std::int64_t i = 0, s = 0, best = 0; lastScan + i < scan && lastPosition + i < oldSize;) {
      if (old[lastPosition + i] == now[lastScan + i]) ++s;
      ++i;
      if (s * 2 - i > best * 2 - forward) best = s, forward = i;
    }
    std::int64_t backward = 0;
    if (scan < newSize) {
      for (std::int64_t i = 1, s = 0, best = 0; scan >= lastScan + i && position >= i; ++i) {
        if (old[position - i] == now[scan - i]) ++s;
        if (s * 2 - i > best * 2 - backward) best = s, backward = i;
      }
    }
    if (lastScan + forward > scan - backward) {  // they overlap: split where it pays most
      const std::int64_t overlap = lastScan + forward - (scan - backward);
      std::int64_t s = 0, best = 0, split = 0;
      for (std::int64_t i = 0; i < overlap; ++i) {
        if (now[lastScan + forward - overlap + i] == old[lastPosition + forward - overlap + i]) ++s;
        if (now[scan - backward + i] == old[position - backward + i]) --s;
        if (s > best) best = s, split = i + 1;
      }
      forward += split - overlap;
      backward -= split;
    }

    const std::int64_t extra = scan - backward - (lastScan + forward);
    if (forward + extra > 0) {
      if (streams.Any) PutVarint(streams.Control, Zigzag(seek));
      else streams.FirstSeek = seek, streams.Any = true;
      PutVarint(streams.Control, static_cast<std::uint64_t>(forward));
      PutVarint(streams.Control, static_cast<std::uint64_t>(extra));
      for (std::int64_t i = 0; i < forward; ++i)
        streams.Diff.push_back(static_cast<std::uint8_t>(now[lastScan + i] - old[lastPosition + i]));
      streams.Extra.insert(streams.Extra.end(), now.begin() + lastScan + forward,
                           now.begin() + lastScan + forward + extra);
      streams.End = lastPosition + forward;
      seek = 0;
    }
    seek += position - backward - (lastPosition + forward);
    lastScan = scan - backward;
    lastPosition = position - backward;
    lastOffset = position - scan;
  }
  return streams;
}

// Compresses `input` into `out`, and with `last` ends the frame; false once `out` holds more
// than `most` bytes.
bool Feed(ZSTD_CCtx* cctx, Bytes input, bool last, std::vector<std::uint8_t>& out,
          std::size_t most = SIZE_MAX) {
  ZSTD_inBuffer in{input.data(), input.size(), 0};
  for (;;) {
    const std::size_t had = out.size();
    out.resize(had + ZSTD_CStreamOutSize());
    ZSTD_outBuffer buffer{out.data() + had, out.size() - had, 0};
    const std::size_t left =
        ZSTD_compressStream2(cctx, &buffer, &in, last ? ZSTD_e_end : ZSTD_e_continue);
    Check(left, "patch");
    out.resize(had + buffer.pos);
    if (out.size() > most) return false;
    if (last ? left == 0 : in.pos == in.size) return true;
  }
}

// One stream of a patch, from its parts in turn.
std::vector<std::uint8_t> Compress(const std::vector<Bytes>& parts, int level) {
  const std::unique_ptr<ZSTD_CCtx, CCtxFree> context(ZSTD_createCCtx());
  if (!context) Fail("no memory for a patch");
  ZSTD_CCtx* cctx = context.get();
  std::size_t total = 0;
  for (const Bytes part : parts) total += part.size();
  Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, level), "level");
  Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog,
                               std::min(WindowLogFor(total), kStreamWindowLog)),
        "window");
  Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1), "checksum");
  Check(ZSTD_CCtx_setPledgedSrcSize(cctx, total), "size");
  std::vector<std::uint8_t> frame;
  for (const Bytes part : parts) Feed(cctx, part, false, frame);
  Feed(cctx, {}, true, frame);
  return frame;
}

// The new file is scanned in as many parts as the machine has cores, each part on a thread of
// its own (a part's first piece costs a few bytes more); parts of less than this are not worth
// a thread.
constexpr std::size_t kLeastPart = 1 << 20;

std::optional<std::vector<std::uint8_t>> MakeMatchDiff(Bytes old, Bytes now, int level,
                                                        Clock::time_point deadline) {
  if (old.size() >= std::size_t{1} << 31) return std::nullopt;
  const std::size_t count = std::clamp<std::size_t>(now.size() / kLeastPart, 1, Cores());
  std::vector<std::optional<Streams>> parts(count);
  {
    const SuffixIndex index(old);
    if (Clock::now() > deadline) return std::nullopt;
    const auto scan = [&](std::size_t i) {
      const std::size_t begin = now.size() * i / count, end = now.size() * (i + 1) / count;
      return Match(index, old, now.subspan(begin, end - begin), deadline);
    };
    std::vector<std::future<std::optional<Streams>>> others;
    for (std::size_t i = 1; i < count; ++i) others.push_back(std::async(std::launch::async, scan, i));
    parts[0] = scan(0);
    for (std::size_t i = 1; i < count; ++i) parts[i] = others[i - 1].get();
  }
  std::vector<std::vector<std::uint8_t>> firstSeeks(count);
  std::vector<Bytes> control, diff, extra;
  std::int64_t from = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (!parts[i]) return std::nullopt;
    if (!parts[i]->Any) continue;
    PutVarint(firstSeeks[i], Zigzag(parts[i]->FirstSeek - from));
    control.insert(control.end(), {firstSeeks[i], parts[i]->Control});
    diff.push_back(parts[i]->Diff);
    extra.push_back(parts[i]->Extra);
    from = parts[i]->End;
  }
  // The difference and the extra bytes are most of the work: side by side.
  std::future<std::vector<std::uint8_t>> differences =
      std::async(std::launch::async, [&] { return Compress(diff, level); });
  const std::vector<std::uint8_t> controlFrame = Compress(control, level);
  const std::vector<std::uint8_t> extraFrame = Compress(extra, level);
  const std::vector<std::uint8_t> diffFrame = differences.get();

  std::vector<std::uint8_t> patch(kMatchDiffMagic.begin(), kMatchDiffMagic.end());
  PutU64(patch, now.size());
  PutU64(patch, old.size());
  Sha256Stream digest;
  digest.Update(now.data(), now.size());
  const Sha256Digest sha = digest.Final();
  patch.insert(patch.end(), sha.begin(), sha.end());
  for (const auto* stream : {&controlFrame, &diffFrame, &extraFrame}) PutU64(patch, stream->size());
  for (const auto* stream : {&controlFrame, &diffFrame, &extraFrame})
    patch.insert(patch.end(), stream->begin(), stream->end());
  return patch;
}

// Patch-from at `level`, into memory; nothing once it has more than `most` bytes or `deadline`
// passed.
std::optional<std::vector<std::uint8_t>> PatchFrom(std::span<const std::uint8_t> old,
                                                   std::span<const std::uint8_t> now, int level,
                                                   std::size_t most, Clock::time_point deadline) {
  const std::unique_ptr<ZSTD_CCtx, CCtxFree> context(ZSTD_createCCtx());
  if (!context) Fail("no memory for a patch");
  ZSTD_CCtx* cctx = context.get();
  const int windowLog = WindowLogFor(std::max(old.size(), now.size()) + 1);
  Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, level), "level");
  Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, windowLog), "window");
  Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_enableLongDistanceMatching, 1), "long matching");
  // On threads of zstd's own, as the zstd tool does: quicker, and a little smaller too. A
  // library built without them compresses on this thread.
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_nbWorkers, static_cast<int>(Cores()));
  // The result's own checksum: a patch applied to another file than its own fails, whatever
  // the caller checks afterwards.
  Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1), "checksum");
  Check(ZSTD_CCtx_setPledgedSrcSize(cctx, now.size()), "size");
  Check(ZSTD_CCtx_refPrefix(cctx, old.data(), old.size()), "old file");

  // The input goes in a few MiB at a time, to look at the clock in between.
  constexpr std::size_t kPiece = 4 << 20;
  std::vector<std::uint8_t> patch;
  for (std::size_t at = 0;; at += kPiece) {
    const Bytes piece = now.subspan(at, std::min(kPiece, now.size() - at));
    const bool last = at + piece.size() == now.size();
    if (!Feed(cctx, piece, last, patch, most)) return std::nullopt;
    if (last) return patch;
    if (Clock::now() > deadline) return std::nullopt;
  }
}

void WriteAll(int fd, const std::uint8_t* data, std::size_t size, const fs::path& file) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) FailFile(errno, file);
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

void WritePatch(const std::vector<std::uint8_t>& bytes, const fs::path& patch) {
  const fs::path temporary = patch.string() + ".new";
  ::unlink(temporary.c_str());
  FileDescriptor out(
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (out.Get() < 0) FailFile(errno, temporary);
  try {
    WriteAll(out.Get(), bytes.data(), bytes.size(), temporary);
    if (!out.Close()) FailFile(errno, temporary);
    if (::rename(temporary.c_str(), patch.c_str()) != 0) FailFile(errno, patch);
  } catch (...) {
    out.Close();
    ::unlink(temporary.c_str());
    throw;
  }
}

}  // namespace

PatchMade CreatePatch(const fs::path& oldFile, const fs::path& newFile, const fs::path& patch,
                      const PatchEffort& effort) {
  const MappedFile before = Map(oldFile);
  const MappedFile after = Map(newFile);
  const auto old = before.Bytes();
  const auto now = after.Bytes();
  if (old.size() > kMostPatchWindow)
    Fail(oldFile.string() + " is larger than a patch's window of 2 GiB");

  const Clock::time_point start = Clock::now();
  PatchMade made{.Method = "zstd " + std::to_string(effort.QuickLevel)};
  std::optional<std::vector<std::uint8_t>> best;
  if (effort.QuickLevel > 0)
    best = PatchFrom(old, now, effort.QuickLevel, SIZE_MAX, Clock::time_point::max());
  const Clock::duration quick = Clock::now() - start;
  if (!best || best->size() > std::max(effort.SmallEnough, now.size() / effort.SmallShare)) {
    const Clock::time_point deadline =
        start + std::chrono::duration_cast<Clock::duration>(
                    effort.Least + effort.PerMiB * static_cast<double>(now.size() >> 20));
    const auto take = [&](std::optional<std::vector<std::uint8_t>> candidate, std::string method) {
      if (candidate && (!best || candidate->size() < best->size())) {
        best = std::move(candidate);
        made.Method = std::move(method);
      }
    };
    if (effort.MatchLevel > 0)
      take(MakeMatchDiff(old, now, effort.MatchLevel, deadline), "match-and-difference");
    // Only when it can end in time, as the quick patch's time tells: else it is time lost.
    if (effort.StrongLevel > 0 && Clock::now() + quick * effort.StrongOverQuick < deadline)
      take(PatchFrom(old, now, effort.StrongLevel, best ? best->size() : SIZE_MAX, deadline),
           "zstd " + std::to_string(effort.StrongLevel));
  }
  if (!best) Fail("no patch made in time");
  WritePatch(*best, patch);
  made.Bytes = best->size();
  return made;
}

}  // namespace tandor
