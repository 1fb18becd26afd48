// Patches between versions of a file: small for small changes wherever they are, and never a
// wrong result: a patch applied to another file, damaged or cut short fails and leaves nothing.

#include "delta/Delta.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <string>

#include "platform/Error.h"
#include "support/TempDir.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST(DeltaTest, PatchesCarryTheChangeAndApplyOnlyToTheirOwnBase) {
  const std::string base = RandomBytes(1 << 20, 1);
  std::string flipped = base;
  flipped[base.size() / 2] ^= 1;
  const std::string inserted =
      base.substr(0, base.size() / 2) + RandomBytes(64 << 10, 2) + base.substr(base.size() / 2);
  const struct {
    const char* Name;
    std::string Old, New;
    std::size_t MostPatch;  // bytes
  } cases[] = {
      {"one byte changed", base, flipped, 1 << 10},
      {"64 KiB inserted in the middle", base, inserted, (64 << 10) + (2 << 10)},
      {"the same file", base, base, 1 << 10},
      {"from nothing", "", "new\n", 64},
      {"to nothing", base, "", 64},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteFile(dir / "old", c.Old);
    WriteFile(dir / "new", c.New);
    CreatePatch(dir / "old", dir / "new", dir / "patch");
    EXPECT_LE(fs::file_size(dir / "patch"), c.MostPatch);
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
