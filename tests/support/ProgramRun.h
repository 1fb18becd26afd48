#pragma once
// Runs a program to its end with a chosen environment, collecting its output and exit status.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace tandor::test {

struct ProgramResult {
  int Status = -1;  // exit status; -1 when it was killed or did not end in time
  std::string Out;
  std::string Err;
};

// Starts `program` with `args` (the environment of this process plus `environment`), waits up
// to `limit` and kills it (and reports -1) when it has not ended by then.
ProgramResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& environment,
                         std::chrono::seconds limit = std::chrono::seconds(60));

// A program started beside a test, `environment` added to this process's (an empty value reads
// as unset), its output discarded when `quiet`; killed and collected when this goes away.
class BackgroundProgram {
 public:
  BackgroundProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& environment = {}, bool quiet = false);
  ~BackgroundProgram();
  BackgroundProgram(const BackgroundProgram&) = delete;
  BackgroundProgram& operator=(const BackgroundProgram&) = delete;
  bool Running() const;

 private:
  pid_t mPid = -1;
};

// Waits until `condition` holds or `limit` has passed; returns whether it held.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace tandor::test
