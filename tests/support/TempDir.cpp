#include "support/TempDir.h"

#include <stdlib.h>

#include <fstream>
#include <random>
#include <stdexcept>

#include "util/Integrity.h"

namespace tandor::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "tandor-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  mPath = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests make folders read-only on purpose; give the owner write access back before removing.
  for (auto it = fs::recursive_directory_iterator(mPath, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(mPath, ec);
}

void WriteFile(const fs::path& file, std::string_view bytes) {
  if (file.has_parent_path()) fs::create_directories(file.parent_path());
  if (!(std::ofstream(file, std::ios::binary) << bytes))
    throw std::runtime_error("cannot write " + file.string());
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

std::string Sha256Of(std::string_view bytes) {
  Sha256Stream stream;
  stream.Update(bytes.data(), bytes.size());
  return Sha256Hex(stream.Final());
}

}  // namespace tandor::test
