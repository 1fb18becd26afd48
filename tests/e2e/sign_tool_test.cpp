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

namespace fs = std::filesystem;

ProgramResult Sign(const std::vector<std::string>& args) {
  return RunProgram(TANDOR_SIGN_BINARY, args, {}, std::chrono::seconds(30));
}

TEST(SignToolTest, KeygenSignVerifyHash) {
  TempDir dir;
  const std::string secret = dir / "secret", pub = dir / "public", manifest = dir / "Tandor10.ini";
  const std::string tampered = dir / "tampered.ini", shared = dir / "shared.key";
  const std::string old = dir / "old.key", sample = dir / "Sample" / "Tandor10.ini";
  const std::string named = dir / "Named" / "Tandor10.ini", other = dir / "Other" / "Tandor10.ini";
  const std::string rotated = dir / "Rotated" / "Tandor10.ini", newPub = dir / "new.pub";
  for (const auto& [file, text] : {std::pair{manifest, "abc"},
                                   {tampered, "abd"},
                                   {old, "old key\n"},
                                   {sample, "[Files]\r\nSerial=3\r\n[File1]"},
                                   {named, "[Files]"},
                                   {other, "[Files]\r\nProduct=Other"},
                                   {rotated, "[Files]\r\nSerial=7\r\n"}})
    WriteFile(file, text);
  ASSERT_EQ(Sign({"keygen", secret, pub}).Status, 0);
  EXPECT_EQ(fs::status(secret).permissions(), fs::perms(0600));
  const std::string secretKey = ReadFile(secret), publicKey = ReadFile(pub);
  const std::string signedBy = "SignedBy=" + publicKey.substr(0, publicKey.size() - 1) + "\r\n";
  fs::permissions(pub, fs::perms(0600));  // private, and still no secret key
  fs::copy_file(secret, shared);
  fs::permissions(shared, fs::perms(0640));
  ASSERT_EQ(Sign({"sign", secret, manifest}).Status, 0);
  fs::copy_file(manifest + ".sig", tampered + ".sig");  // signed, then changed

  // Arguments, status, what the output or the error output says, and a file signed as it reads.
  const struct {
    std::vector<std::string> Args;
    int Status;
    std::string Says;
    std::string File = {};
    std::string Content = {};
  } cases[] = {
      {{"verify", pub, manifest}, 0, "signature valid"},
      {{"verify", pub, tampered}, 1, "NOT valid"},
      {{"hash", manifest}, 0, "SHA256=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20"},
      {{"hash", dir / "none"}, 2, "cannot be read"},
      {{"frobnicate", pub, manifest}, 64, "usage:"},
      {{"sign", pub, manifest}, 2, "is no secret key"},
      // A new key in place of the old one locks every machine out: only --force replaces one.
      {{"keygen", secret, dir / "public2"}, 2, "exists already"},
      {{"keygen", dir / "secret2", pub}, 2, "exists already"},
      {{"keygen", "--force", old, dir / "old.pub"}, 0, ""},
      {{"sign", shared, manifest}, 2, "others"},
      // The manifest names its product: its folder's name, the option's, or the one it has.
      // ... and the key that signs it.
      {{"sign", secret, sample},
       0,
       "",
       sample,
       "[Files]\r\n" + signedBy + "Product=Sample\r\nSerial=3\r\n[File1]"},
      {{"verify", pub, sample}, 0, "signature valid"},
      {{"sign", "--product", "Given", secret, named},
       0,
       "",
       named,
       "[Files]\r\n" + signedBy + "Product=Given"},
      {{"verify", pub, named}, 0, "signature valid"},
      {{"sign", "--product", "Given", secret, other},
       0,
       "",
       other,
       "[Files]\r\n" + signedBy + "Product=Other"},
      {{"sign", "--product", secret, other}, 64, "usage:"},
      // A key rolled over: the manifest announces the new key, and both keys sign it.
      {{"keygen", dir / "new.key", newPub}, 0, ""},
      {{"sign", "--expires", "30", "--next-key", newPub, secret, dir / "new.key", rotated},
       0,
       "signed by 2 key(s), expires 20"},
      {{"verify", pub, rotated}, 0, "signature valid"},
      {{"verify", newPub, rotated}, 0, "signature valid"},
      {{"sign", "--expires", "3651", secret, rotated}, 64, "usage:"},
      {{"sign", "--revoke-key", manifest, secret, rotated}, 2, "is no public key"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    const ProgramResult result = Sign(c.Args);
    EXPECT_EQ(result.Status, c.Status);
    EXPECT_NE((result.Out + result.Err).find(c.Says), std::string::npos)
        << result.Out << result.Err;
    if (!c.File.empty()) {
      EXPECT_EQ(ReadFile(c.File), c.Content);
    }
  }
  const std::string announced = ReadFile(rotated);
  EXPECT_NE(announced.find("NextKey=" + ReadFile(newPub).substr(0, 44) + "\r\n"), std::string::npos)
      << announced;
  EXPECT_NE(announced.find("\r\nExpires=20"), std::string::npos) << announced;
  EXPECT_NE(announced.find("\r\nSigned=20"), std::string::npos) << announced;
  // The refused key pairs stayed; the forced one is new and private.
  EXPECT_EQ(ReadFile(secret), secretKey);
  EXPECT_EQ(ReadFile(pub), publicKey);
  EXPECT_FALSE(fs::exists(dir / "public2") || fs::exists(dir / "secret2"));
  EXPECT_NE(ReadFile(old), "old key\n");
  EXPECT_EQ(fs::status(old).permissions(), fs::perms(0600));
}

}  // namespace
}  // namespace tandor::test
