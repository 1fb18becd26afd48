// Patches between versions of a file: small for small changes wherever they are, of the kind
// that is smallest, and never a wrong result: a patch applied to another file, damaged, cut short
// or made to reach outside its files fails and leaves nothing.

#include "delta/Delta.h"

#include <gmock/gmock.h>
#include <zstd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "delta/MatchDiff.h"

#include "platform/Error.h"
#include "support/TempDir.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Program code whose records each hold an address: inserting a record before them all moves
// every address, which breaks an LZ patch at each record and leaves the differences regular.
std::string Program(std::size_t records, bool inserted) {
  const std::string body = RandomBytes(records * 12, 4);
  std::string code = inserted ? RandomBytes(16, 5) : "";
  for (std::size_t i = 0; i < records; ++i) {
    const auto address = static_cast<std::uint32_t>(0x401000 + i * 16 + (inserted ? 16 : 0));
    code += body.substr(i * 12, 12);
    for (int b = 0; b < 4; ++b) code += static_cast<char>(address >> (8 * b));
  }
  return code;
}

std::string Frame(const std::string& bytes) {
  std::string frame(ZSTD_compressBound(bytes.size()), '\0');
  frame.resize(ZSTD_compress(frame.data(), frame.size(), bytes.data(), bytes.size(), 3));
  return frame;
}

std::string U64(std::uint64_t value) {
  std::string bytes;
  for (int i = 0; i < 8; ++i) bytes += static_cast<char>(value >> (8 * i));
  return bytes;
}

// A match-and-difference patch as a hostile server might write it: its streams, its sizes.
std::string Matched(std::uint64_t newSize, std::uint64_t oldSize, const std::string& control,
                    const std::string& diff, const std::string& extra) {
  const std::string frames[] = {Frame(control), Frame(diff), Frame(extra)};
  return std::string(kMatchDiffMagic) + U64(newSize) + U64(oldSize) + std::string(32, '\0') +
         U64(frames[0].size()) + U64(frames[1].size()) + U64(frames[2].size()) + frames[0] +
         frames[1] + frames[2];
}

TEST(DeltaTest, PatchesCarryTheChangeAndApplyOnlyToTheirOwnBase) {
  const std::string base = RandomBytes(1 << 20, 1);
  std::string flipped = base;
  flipped[base.size() / 2] ^= 1;
  const std::string inserted =
      base.substr(0, base.size() / 2) + RandomBytes(64 << 10, 2) + base.substr(base.size() / 2);
  const PatchEffort matching{.QuickLevel = 0, .StrongLevel = 0};
  const struct {
    const char* Name;
    std::string Old, New;
    std::size_t MostPatch;  // bytes
    PatchEffort Effort{};
    std::string Method = "zstd 3";
  } cases[] = {
      {"one byte changed", base, flipped, 1 << 10},
      {"64 KiB inserted in the middle", base, inserted, (64 << 10) + (2 << 10)},
      {"the same file", base, base, 1 << 10},
      {"from nothing", "", "new\n", 64},
      {"to nothing", base, "", 64},
      {"every address moved",
       Program(1 << 16, false),
       Program(1 << 16, true),
       2 << 10,
       {},
       "match-and-difference"},
      {"one byte changed, matched", base, flipped, 1 << 10, matching, "match-and-difference"},
      {"64 KiB inserted, matched", base, inserted, (64 << 10) + (2 << 10), matching,
       "match-and-difference"},
      {"from nothing, matched", "", "new\n", 160, matching, "match-and-difference"},
      {"to nothing, matched", base, "", 160, matching, "match-and-difference"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteFile(dir / "old", c.Old);
    WriteFile(dir / "new", c.New);
    const PatchMade made = CreatePatch(dir / "old", dir / "new", dir / "patch", c.Effort);
    EXPECT_EQ(made.Method, c.Method);
    EXPECT_EQ(made.Bytes, fs::file_size(dir / "patch"));
    EXPECT_LE(made.Bytes, c.MostPatch);
    fs::remove(dir / "result");
    ApplyPatch(dir / "old", dir / "patch", dir / "result");
    EXPECT_TRUE(ReadFile(dir / "result") == c.New);
  }

  // What must fail, and leave no result behind.
  WriteFile(dir / "old", base);
  WriteFile(dir / "new", flipped);
  CreatePatch(dir / "old", dir / "new", dir / "patch");
  const std::string patch = ReadFile(dir / "patch");
  std::string damaged = patch;
  damaged[damaged.size() / 2] ^= 0x55;
  CreatePatch(dir / "old", dir / "new", dir / "patch", matching);
  const std::string matched = ReadFile(dir / "patch");
  std::string unknown = matched, wrong = matched, hurt = matched;
  unknown[kMatchDiffMagic.size() - 1] = '\x09';
  wrong[30] ^= 1;  // the digest of the result
  hurt[hurt.size() - 20] ^= 0x55;
  std::string other = RandomBytes(1 << 20, 3);
  const struct {
    const char* Name;
    std::string Old, Patch;
    const char* Says;
  } failures[] = {
      {"another base", RandomBytes(1 << 20, 3), patch, "does not apply"},
      {"a damaged patch", base, damaged, "does not apply"},
      {"a patch cut short", base, patch.substr(0, patch.size() - 9), "does not apply"},
      {"no patch at all", base, "<html>404</html>", "is no patch"},
      {"a huge result", base, std::string("\x28\xb5\x2f\xfd\xe4", 5) + std::string(8, '\x7f'),
       "more than 2 GiB"},
      {"another base, matched", other, matched, "the result differs"},
      {"a base of another size, matched", base + "x", matched, "made from a file of 1048576 bytes"},
      {"a damaged patch, matched", base, hurt, "does not apply"},
      {"a wrong digest, matched", base, wrong, "the result differs"},
      {"a patch cut short, matched", base, matched.substr(0, matched.size() - 9), "damaged"},
      {"a header cut short", base, matched.substr(0, 40), "damaged"},
      {"a kind not known", base, unknown, "of a kind this version does not know"},
      {"a huge result, matched", base, Matched(3ull << 30, 1 << 20, "", "", ""), "more than 2 GiB"},
      // Control numbers: move, difference, kept; the move is zigzagged (2 is +1, 1 is -1).
      {"a move before the old file", base, Matched(4, 1 << 20, "\x01\x04\x00", "abcd", ""),
       "damaged"},
      {"a difference past the old file's end", base,
       Matched(4, 1 << 20, std::string("\xfe\xff\x7f\x04\x00", 5), "abcd", ""), "damaged"},
      {"more bytes than the result holds", base, Matched(4, 1 << 20, "\x00\x00\x05", "", "abcde"),
       "damaged"},
      {"a piece of nothing", base, Matched(4, 1 << 20, "\x00\x00\x00", "", ""), "damaged"},
      {"fewer bytes than said", base, Matched(4, 1 << 20, "\x00\x04\x00", "ab", ""), "damaged"},
      {"numbers left over", base, Matched(4, 1 << 20, "\x00\x04\x00\x00", "abcd", ""), "damaged"},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.Name);
    WriteFile(dir / "other", f.Old);
    WriteFile(dir / "bad", f.Patch);
    fs::remove(dir / "result");
    try {
      ApplyPatch(dir / "other", dir / "bad", dir / "result");
      ADD_FAILURE() << "applied";
    } catch (const RuntimeError& error) {
      EXPECT_THAT(error.Description(), HasSubstr(f.Says));
    }
    EXPECT_FALSE(fs::exists(dir / "result"));
  }

  // A result that exists, or a link in its place, is not written through.
  fs::remove(dir / "result");
  fs::create_symlink(dir / "elsewhere", dir / "result");
  EXPECT_THROW(ApplyPatch(dir / "old", dir / "patch", dir / "result"), RuntimeError);
  EXPECT_FALSE(fs::exists(dir / "elsewhere"));
  EXPECT_TRUE(fs::is_symlink(dir / "result"));
}

}  // namespace
}  // namespace tandor::test
