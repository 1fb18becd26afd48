// Reads and decides generated manifests of 1,000 and 10,000 entries, once with every installed
// file present (each carrying a version resource) and once with none, and prints the times.
// Also times writing the installation record for the whole manifest, first and unchanged.

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "manifest/InstallationRecord.h"
#include "manifest/ManifestReader.h"
#include "platform/FileIo.h"
#include "platform/Prefix.h"
#include "settings/IniStore.h"
#include "VersionedElf.h"
#include "sync/EntryRules.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace tandor;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string MakeManifest(long count) {
  std::string text = "[Files]\r\nExecute=1\r\nExecute Option=/auto\r\n";
  for (long n = 1; n <= count; ++n) {
    const std::string name = "file" + std::to_string(n) + ".dll";
    text += "[File" + std::to_string(n) + "]\r\nKey=" + name + "\r\nFileName=" + name +
            "\r\nRealName=" + name +
            "\r\nServer Path=$Root/Sample\r\nLocal Path=$(AppPath)\\bin\r\n"
            "File Version=1.0.0.210\r\nProduct Version=1.00.0210\r\nRegister=\r\n"
            "CopyMode=" +
            (n % 3 == 0 ? "SkipIfSame" : "Normal") +
            "\r\nExecute=\r\nExecute Option=\r\nWait=\r\nExtract=\r\nExtract To=\r\n";
  }
  return text;
}

void Run(long count, bool present) {
  char pattern[] = "/tmp/tandor-decide-XXXXXX";
  if (!mkdtemp(pattern)) return;
  const fs::path root = pattern;
  Prefix prefix = Prefix::Open(root);
  const fs::path manifest = prefix.ToNative("C:\\Sample\\Tandor10.ini");
  fs::create_directories(manifest.parent_path());
  WriteFileAtomically(manifest, MakeManifest(count));
  if (present) {
    test::VersionSpec wanted;
    wanted.FileVersion = wanted.ProductVersion = {1, 0, 0, 210};
    wanted.Strings = {{"FileVersion", "1.00.0210"}, {"ProductVersion", "1.00.0210"}};
    const fs::path first = prefix.ToNative("C:\\Tools\\bin\\file1.dll");
    test::WriteVersionedFile(first, wanted);
    for (long n = 2; n <= count; ++n)
      fs::copy_file(first, first.parent_path() / ("file" + std::to_string(n) + ".dll"));
  }

  ClientSettings settings;
  settings.Root = "/Harrowin";
  IniStore ini{CodePage()};
  InstallationRecord record(ini, prefix.ToNative("C:\\Sample\\Version.ini"));
  EntryRules rules(prefix, CodePage(), record, "?Error",
                   [](const std::string&, const std::string&) { return true; });
  ManifestReader reader(ini, manifest, settings, "C:\\Tools");

  auto start = Clock::now();
  EntryTable table = BuildEntryTable(reader, rules);
  const double decide = MillisecondsSince(start);

  start = Clock::now();
  for (const PlannedEntry& planned : table.Entries) record.Write(planned.Entry);
  record.Flush();
  const double firstRecord = MillisecondsSince(start);
  const long writes = ini.DiskWrites();

  start = Clock::now();
  for (const PlannedEntry& planned : table.Entries) record.Write(planned.Entry);
  record.Flush();
  const double againRecord = MillisecondsSince(start);

  std::printf(
      "%6ld entries, files %-7s  read+decide %8.1f ms (%5.1f us/entry), %ld to download;"
      "  record %7.1f ms (%ld disk writes), unchanged %6.1f ms (%ld)\n",
      count, present ? "present" : "absent", decide, decide * 1000.0 / count, table.DownloadCount,
      firstRecord, writes, againRecord, ini.DiskWrites() - writes);
  std::error_code ec;
  fs::remove_all(root, ec);
}

}  // namespace

int main() {
  for (long count : {1000L, 10000L}) {
    Run(count, true);
    Run(count, false);
  }
  // A manifest far past any 16-bit entry counter.
  Run(100000L, false);
  return 0;
}
