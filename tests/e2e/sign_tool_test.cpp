// The publisher's signing tool, run as built: one key pair and one manifest through every
// command, and what an attacker's changes look like to `verify`.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace tandor::test {
namespace {

ProgramResult Sign(const std::vector<std::string>& args) {
  return RunProgram(TANDOR_SIGN_BINARY, args, {}, std::chrono::seconds(30));
}

TEST(SignToolTest, KeygenSignVerifyHash) {
  TempDir dir;
  const std::string secret = dir / "secret", pub = dir / "public", manifest = dir / "Tandor10.ini";
  const std::string tampered = dir / "tampered.ini";
  WriteFile(manifest, "abc");
  WriteFile(tampered, "abd");
  ASSERT_EQ(Sign({"keygen", secret, pub}).Status, 0);
  EXPECT_EQ(std::filesystem::status(secret).permissions(), std::filesystem::perms(0600));
  ASSERT_EQ(Sign({"sign", secret, manifest}).Status, 0);
  std::filesystem::copy_file(manifest + ".sig", tampered + ".sig");  // signed, then changed

  const struct {
    std::vector<std::string> Args;
    int Status;
    std::string Out;
  } cases[] = {
      {{"verify", pub, manifest}, 0, ""},
      {{"verify", pub, tampered}, 1, ""},
      {{"hash", manifest}, 0, "SHA256=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20"},
      {{"hash", dir / "none"}, 2, ""},
      {{"frobnicate", pub, manifest}, 64, ""},
      {{"sign", pub, manifest}, 2, ""},  // a public key cannot sign
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args[0] + " " + c.Args[1]);
    const ProgramResult result = Sign(c.Args);
    EXPECT_EQ(result.Status, c.Status);
    EXPECT_TRUE(result.Out.starts_with(c.Out)) << result.Out;
  }
}

}  // namespace
}  // namespace tandor::test
