// One patch operation as a process of its own, for bench/delta_compare.sh to time and weigh:
//
//   delta_bench make OLD NEW PATCH [quick=N] [match=N] [strong=N] [small=BYTES] [least=S] [permib=S]
//   delta_bench apply OLD PATCH RESULT
//
// The same calls the publisher makes and the update pass applies; make prints the kind of patch
// it kept. Its options change the effort from the publisher's (see PatchEffort), to compare.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "delta/Delta.h"
#include "platform/Error.h"

int main(int argc, char** argv) {
  try {
    if (argc >= 5 && std::strcmp(argv[1], "make") == 0) {
      tandor::PatchEffort effort;
      for (int i = 5; i < argc; ++i) {
        const std::string option = argv[i];
        const std::size_t equals = option.find('=');
        const std::string key = option.substr(0, equals);
        const double value = std::atof(option.c_str() + equals + 1);
        if (key == "quick") effort.QuickLevel = static_cast<int>(value);
        else if (key == "match") effort.MatchLevel = static_cast<int>(value);
        else if (key == "strong") effort.StrongLevel = static_cast<int>(value);
        else if (key == "small") effort.SmallEnough = static_cast<std::size_t>(value);
        else if (key == "least") effort.Least = std::chrono::duration<double>(value);
        else if (key == "permib") effort.PerMiB = std::chrono::duration<double>(value);
        else return std::fprintf(stderr, "unknown option %s\n", argv[i]), 2;
      }
      const tandor::PatchMade made = tandor::CreatePatch(argv[2], argv[3], argv[4], effort);
      std::printf("%llu bytes, %s\n", static_cast<unsigned long long>(made.Bytes),
                  made.Method.c_str());
      return 0;
    }
    if (argc == 5 && std::strcmp(argv[1], "apply") == 0) {
      std::filesystem::remove(argv[4]);
      tandor::ApplyPatch(argv[2], argv[3], argv[4]);
      return 0;
    }
  } catch (const tandor::RuntimeError& error) {
    std::fprintf(stderr, "%s\n", error.Description().c_str());
    return 1;
  }
  std::fprintf(stderr, "usage: delta_bench make OLD NEW PATCH [KEY=VALUE...] | apply OLD PATCH RESULT\n");
  return 2;
}
