// How long one look for a running program takes on this machine: the update pass asks again and
// again while it waits for the launcher to end.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/ProcessList.h"
#include "util/ProcessCheck.h"

namespace {

double MicrosecondsPerCall(const std::string& name, int rounds, bool expected) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) {
    if (tandor::IsProcessRunning(name) != expected) {
      std::fprintf(stderr, "IsProcessRunning(%s) answered wrongly\n", name.c_str());
      return -1;
    }
  }
  std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / rounds;
}

}  // namespace

int main() {
  constexpr int Rounds = 500;
  // Our own process is listed last or nearly so, which makes the hit as slow as a hit gets.
  std::string self = std::filesystem::read_symlink("/proc/self/exe").filename().string();
  std::size_t processes = tandor::ListProcessIds().size();
  double hit = MicrosecondsPerCall(self, Rounds, true);
  double miss = MicrosecondsPerCall("TandorNoSuchProgram", Rounds, false);
  std::printf("processes on this machine: %zu\n", processes);
  std::printf("IsProcessRunning hit  (%s): %.1f us per call\n", self.c_str(), hit);
  std::printf("IsProcessRunning miss: %.1f us per call\n", miss);
  return hit < 0 || miss < 0 ? 1 : 0;
}
