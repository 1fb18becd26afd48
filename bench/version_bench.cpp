// Time of reading version fields from 1,000 Windows programs: the publisher and the update pass
// read one file per manifest entry, so this is the cost per entry.

#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/FileIo.h"
#include "platform/Prefix.h"
#include "util/FileVersion.h"
#include "util/VersionResource.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFiles = 1000;
constexpr int kRounds = 5;

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// User plus system time of this process so far, in milliseconds: unlike the wall clock it does
// not grow when other work shares the machine.
double CpuMilliseconds() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

}  // namespace

int main() {
  std::string pattern = (fs::temp_directory_path() / "tandor-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  fs::path root = pattern;
  tandor::Prefix prefix(root);
  fs::path folder = root / "drive_c" / "Sample";
  fs::create_directories(folder);

  // Copies of a program made by the resource compiler, reached through Windows-form paths.
  fs::path source = fs::path(TANDOR_VERSION_FIXTURES) / "all_strings.exe";
  std::vector<std::string> paths;
  for (int i = 0; i < kFiles; ++i) {
    std::string name = "Lib" + std::to_string(i) + ".dll";
    fs::copy_file(source, folder / name);
    paths.push_back("C:\\Sample\\" + name);
  }

  tandor::VersionInfoQuery query(prefix, tandor::CodePage(949));
  std::size_t found = 0;
  double best = 1e300, total = 0;
  double cpuStart = CpuMilliseconds();
  for (int round = 0; round < kRounds; ++round) {
    auto start = Clock::now();
    for (const std::string& path : paths)
      found += query.QueryFileVersionInfo(path).InternalName == "SampleLib";
    double elapsed = Milliseconds(Clock::now() - start);
    best = std::min(best, elapsed);
    total += elapsed;
  }
  double cpu = (CpuMilliseconds() - cpuStart) / kRounds;

  auto start = Clock::now();
  std::size_t versions = 0;
  for (int i = 0; i < kFiles; ++i)
    versions += !tandor::GetFileVersion(folder / ("Lib" + std::to_string(i) + ".dll")).empty();
  double fixed = Milliseconds(Clock::now() - start);

  // The reader alone, on the program already in memory: what is left without the file system.
  std::string image = tandor::ReadWholeFile(source).value_or("");
  std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(image.data()),
                                      image.size());
  std::size_t parsed = 0;
  double parseStart = CpuMilliseconds();
  for (int i = 0; i < kFiles; ++i)
    parsed += tandor::ReadVersionFields(bytes, tandor::CodePage(949)).InternalName == "SampleLib";
  double parse = CpuMilliseconds() - parseStart;

  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("QueryFileVersionInfo, %d PE files: best %.2f ms, mean %.2f ms (%.1f us per file)\n",
              kFiles, best, total / kRounds, best * 1000.0 / kFiles);
  std::printf("QueryFileVersionInfo, %d PE files: %.2f ms of processor time per round\n", kFiles,
              cpu);
  std::printf("GetFileVersion, %d PE files: %.2f ms\n", kFiles, fixed);
  std::printf("ReadVersionFields, %d images in memory: %.2f ms of processor time\n", kFiles, parse);
  std::printf("peak resident memory: %ld KiB\n", usage.ru_maxrss);
  std::printf("files read correctly: %zu of %d, file versions: %zu of %d, images: %zu of %d\n",
              found, kFiles * kRounds, versions, kFiles, parsed, kFiles);

  fs::remove_all(root);
  return found == static_cast<std::size_t>(kFiles * kRounds) ? 0 : 1;
}
