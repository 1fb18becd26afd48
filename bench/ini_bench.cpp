// Reads every key of generated manifests and writes installation records through the INI
// engine, printing the time for 1,000 and 10,000 entries.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "settings/IniStore.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using tandor::CodePage;
using tandor::IniStore;

const char* const kKeys[] = {
    "Key",          "Filename",        "Realname",   "Caption",  "Server Path", "Local Path",
    "File Version", "Product Version", "Register",   "CopyMode", "Execute",     "Execute Option",
    "Wait",         "Extract",         "Extract To", "Allow",    "Block"};

fs::path WriteManifest(const fs::path& folder, int entries) {
  std::string text = "[Files]\r\nExecute=1\r\nExecute Option=\r\n";
  for (int i = 1; i <= entries; ++i) {
    text += "[File" + std::to_string(i) + "]\r\n";
    for (const char* key : kKeys)
      text += std::string(key) + "=value of " + key + " " + std::to_string(i) + "\r\n";
  }
  fs::path file = folder / ("manifest" + std::to_string(entries) + ".ini");
  tandor::test::WriteFile(file, text);
  return file;
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double ReadAll(const fs::path& manifest, int entries) {
  IniStore ini{CodePage()};
  auto start = std::chrono::steady_clock::now();
  std::size_t bytes = 0;
  for (int i = 1; i <= entries; ++i) {
    const std::string section = "File" + std::to_string(i);
    for (const char* key : kKeys) bytes += ini.Read(section, key, manifest).size();
  }
  double took = Seconds(std::chrono::steady_clock::now() - start);
  if (bytes == 0) std::printf("nothing read?\n");
  return took;
}

double WriteRecord(const fs::path& folder, int entries, int pass, long* diskWrites) {
  IniStore ini{CodePage()};
  const fs::path record = folder / ("Version" + std::to_string(entries) + ".ini");
  ini.SetWriteBehind(record);
  auto start = std::chrono::steady_clock::now();
  const std::string suffix = " v" + std::to_string(pass);
  for (int i = 1; i <= entries; ++i) {
    const std::string key = "Entry" + std::to_string(i);
    ini.Write(key, "Filename", "file" + std::to_string(i) + ".dll", record);
    ini.Write(key, "Local Path", "C:\\Sample\\bin", record);
    ini.Write(key, "File Version", "1.0.0." + std::to_string(i) + suffix, record);
    ini.Write(key, "Product Version", "1.0." + std::to_string(i) + suffix, record);
  }
  ini.Flush();
  *diskWrites = ini.DiskWrites();
  return Seconds(std::chrono::steady_clock::now() - start);
}

}  // namespace

int main() {
  tandor::test::TempDir dir;
  std::printf("INI engine (17 keys per entry, 4 record keys per entry)\n");
  for (int entries : {1000, 10000}) {
    fs::path manifest = WriteManifest(dir.Path(), entries);
    double read = ReadAll(manifest, entries);
    long firstWrites = 0, secondWrites = 0;
    double first = WriteRecord(dir.Path(), entries, 1, &firstWrites);
    double second = WriteRecord(dir.Path(), entries, 2, &secondWrites);
    std::printf(
        "%6d entries: read all keys %.3f s (%.2f us/key) | record, new file %.3f s (%ld disk "
        "writes) | record, all values changed %.3f s (%ld disk writes)\n",
        entries, read, read * 1e6 / (entries * 17.0), first, firstWrites, second, secondWrites);
  }
  // A hostile file: one 10 MB line, of which a value keeps 1,023 bytes.
  const fs::path huge = dir / "huge.ini";
  tandor::test::WriteFile(huge, "[S]\r\nbig=" + std::string(10 << 20, 'b') + "\r\nk=v\r\n");
  IniStore ini{CodePage()};
  auto start = std::chrono::steady_clock::now();
  const std::size_t kept = ini.Read("S", "big", huge).size();
  const bool nextLine = ini.Read("S", "k", huge) == "v";
  std::printf("10 MB line: read in %.3f s, value of %zu bytes, next line %s\n",
              Seconds(std::chrono::steady_clock::now() - start), kept, nextLine ? "read" : "LOST");
  std::printf("goals: read 10,000 entries under 0.3 s, record of 10,000 under 1 s, linear\n");
  return 0;
}
