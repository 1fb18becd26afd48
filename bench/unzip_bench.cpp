// Extracts an archive of 2,000 files (200 MB) with our extractor and with Info-ZIP's
// `unzip -o -q`, first into an empty folder and then over the files already there, and prints
// both times and the ratio ours/unzip (goal: at most 1.0). Each time is the best of three runs,
// since the machine is shared.

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "unzip/Unzip32.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 2000;
constexpr std::size_t kFileSize = 100'000;

// Half noise, half text, so that deflate has work to do on both kinds of data.
std::string FileContent(std::uint64_t seed) {
  std::string content;
  content.reserve(kFileSize);
  std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  while (content.size() < kFileSize / 2) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    content.push_back(static_cast<char>(state));
  }
  const std::string line = "Version=1.00.0210 Key=File" + std::to_string(seed) + "\r\n";
  while (content.size() < kFileSize) content += line;
  content.resize(kFileSize);
  return content;
}

void MakeSourceFiles(const fs::path& folder) {
  for (int i = 0; i < kFiles; ++i) {
    const fs::path file = folder / ("dir" + std::to_string(i % 20)) / ("file" + std::to_string(i));
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << FileContent(i);
  }
}

int Shell(const std::string& command) {
  return std::system(command.c_str());
}

constexpr int kRuns = 3;

double SecondsOf(const std::function<void()>& action) {
  const auto start = std::chrono::steady_clock::now();
  action();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::size_t CountFiles(const fs::path& folder) {
  std::size_t count = 0;
  for (const auto& item : fs::recursive_directory_iterator(folder)) count += item.is_regular_file();
  return count;
}

}  // namespace

int main() {
  std::string pattern = (fs::temp_directory_path() / "tandor-unzip-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  const fs::path temp = pattern;
  const fs::path archive = temp / "bench.zip";
  MakeSourceFiles(temp / "src");
  if (Shell("cd '" + (temp / "src").string() + "' && zip -q -r '" + archive.string() + "' .") !=
      0) {
    std::fprintf(stderr, "zip failed\n");
    return 1;
  }
  std::printf("archive: %d files, %.1f MB, %.1f MB compressed\n", kFiles, kFiles * kFileSize / 1e6,
              fs::file_size(archive) / 1e6);

  tandor::Unzip32 unzip([](const std::string&) { return std::string(); });
  int status = 0;
  for (const bool overExisting : {false, true}) {
    const fs::path oursFolder = temp / "ours";
    const fs::path theirsFolder = temp / "infozip";
    // Best of kRuns, ours and theirs taking turns so that both meet the same load.
    double ours = 1e9;
    double theirs = 1e9;
    for (int run = 0; run < kRuns; ++run) {
      if (!overExisting) {
        fs::remove_all(oursFolder);
        fs::remove_all(theirsFolder);
      }
      ours = std::min(ours, SecondsOf([&] {
                        unzip.SetUnzipOptions({.ZipFile = archive, .TargetFolder = oursFolder});
                        status = unzip.RunUnzip();
                      }));
      theirs = std::min(
          theirs, SecondsOf([&] {
            Shell("unzip -o -q '" + archive.string() + "' -d '" + theirsFolder.string() + "'");
          }));
    }
    std::printf("%-22s ours %.3f s (status %d, %zu files)  unzip -o -q %.3f s  ours/unzip %.2f\n",
                overExisting ? "over existing files" : "into an empty folder", ours, status,
                CountFiles(oursFolder), theirs, ours / theirs);
  }
  fs::remove_all(temp);
  return status == 0 ? 0 : 1;
}
