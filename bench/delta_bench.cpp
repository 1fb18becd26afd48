// One patch operation as a process of its own, for bench/delta_compare.sh to time and weigh:
//
//   delta_bench make OLD NEW PATCH [LEVEL]
//   delta_bench apply OLD PATCH RESULT
//
// The same calls the publisher makes and the update pass applies.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "delta/Delta.h"
#include "platform/Error.h"

int main(int argc, char** argv) {
  try {
    if (argc >= 5 && std::strcmp(argv[1], "make") == 0) {
      tandor::CreatePatch(argv[2], argv[3], argv[4], argc > 5 ? std::atoi(argv[5]) : 19);
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
  std::fprintf(stderr, "usage: delta_bench make OLD NEW PATCH [LEVEL] | apply OLD PATCH RESULT\n");
  return 2;
}
