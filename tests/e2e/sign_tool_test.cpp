// The publisher's signing tool, run as built.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;

ProgramResult Sign(const std::vector<std::string>& args) {
  return RunProgram(TANDOR_SIGN_BINARY, args, {}, std::chrono::seconds(30));
}

// One key pair and one manifest through every command: what a publisher does, and what an
// attacker's changes look like to `verify`.
TEST(SignToolTest, KeygenSignVerifyHash) {
  TempDir dir;
  const std::string secret = (dir / "secret").string();
  const std::string pub = (dir / "public").string();
  const std::string manifest = (dir / "Tandor10.ini").string();
  WriteFile(manifest, "abc");
  ASSERT_EQ(Sign({"keygen", secret, pub}).Status, 0);
  struct stat info {};
  ASSERT_EQ(::stat(secret.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadFile(pub).size(), 45u);  // 44 base64 characters and a line end
  ASSERT_EQ(Sign({"sign", secret, manifest}).Status, 0);
  EXPECT_EQ(ReadFile(manifest + ".sig").size(), 89u);

  ASSERT_EQ(Sign({"keygen", (dir / "other").string(), (dir / "other.pub").string()}).Status, 0);
  struct Case {
    const char* Name;
    std::vector<std::string> Args;
    int Status;
    std::string Out;
  };
  const Case cases[] = {
      {"signed file", {"verify", pub, manifest}, 0, ""},
      {"another key", {"verify", (dir / "other.pub").string(), manifest}, 1, ""},
      {"hash",
       {"hash", manifest},
       0,
       "SHA256=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n"},
      {"missing file to hash", {"hash", (dir / "none").string()}, 2, ""},
      {"unknown command", {"frobnicate", pub, manifest}, 64, ""},
      {"signing with a public key", {"sign", pub, manifest}, 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const ProgramResult result = Sign(c.Args);
    EXPECT_EQ(result.Status, c.Status);
    if (!c.Out.empty()) {
      EXPECT_EQ(result.Out, c.Out);
    }
  }
  WriteFile(manifest, "abd");  // tampered after signing
  EXPECT_EQ(Sign({"verify", pub, manifest}).Status, 1);
}

}  // namespace
}  // namespace tandor::test
