#pragma once
// A fresh temporary folder per test, removed with everything in it at the end, and the bytes
// tests write into it.

#include <filesystem>
#include <string>
#include <string_view>

namespace tandor::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return mPath; }
  std::filesystem::path operator/(std::string_view name) const { return mPath / name; }

 private:
  std::filesystem::path mPath;
};

// Writes `bytes` to `file`, creating its folders.
void WriteFile(const std::filesystem::path& file, std::string_view bytes);
// The file's bytes, or an empty string when it cannot be read.
std::string ReadFile(const std::filesystem::path& file);
// `size` bytes that nothing compresses or matches, the same for the same `seed`.
std::string RandomBytes(std::size_t size, unsigned seed);
// The SHA-256 of `bytes`, in hex.
std::string Sha256Of(std::string_view bytes);

}  // namespace tandor::test
