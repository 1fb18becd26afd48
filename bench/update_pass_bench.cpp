// Times the built updater's working copy against an FTP server on 127.0.0.1:
//  (a) a pass that installs nothing over manifests of 1,000 and 10,000 entries whose files are
//      all present (and an empty manifest, for the fixed cost of a start);
//  (b) a first install of 1,000 files of 10 KiB, against one curl command fetching the same
//      files over one connection, both in active mode.
//
//   update_pass_bench [path of the Tandor binary]   (default: <build>/Tandor beside bench/)

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Prefix.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace tandor;
using test::TempDir;

constexpr int kRuns = 3;

struct Run {
  int Status = -1;  // -1: killed after the time limit
  double Seconds = 0;
};

// Runs a program with stdout and stderr going to `output`, waiting at most two minutes.
Run Execute(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
            const fs::path& output) {
  const auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) _exit(126);
    dup2(fd, 1);
    dup2(fd, 2);
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  Run run;
  int status = 0;
  const auto limit = start + std::chrono::minutes(2);
  while (waitpid(pid, &status, WNOHANG) != pid) {
    if (Clock::now() > limit) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      return run;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  run.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (WIFEXITED(status)) run.Status = WEXITSTATUS(status);
  return run;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string Name(long n, const char* extension) {
  char text[32];
  std::snprintf(text, sizeof text, "f%05ld.%s", n, extension);
  return text;
}

// $UPDATE_PASS_BENCH_WRAPPER, split at blanks, goes in front of every start of the working copy:
// "perf record -g -o /tmp/pass.data" or "strace -f -tt -o /tmp/pass.trace" show where a pass
// spends its time.
std::vector<std::string> Wrapper() {
  std::vector<std::string> words;
  const char* text = std::getenv("UPDATE_PASS_BENCH_WRAPPER");
  std::string word;
  for (const char* c = text ? text : ""; *c; ++c) {
    if (*c != ' ') {
      word += *c;
    } else if (!word.empty()) {
      words.push_back(word);
      word.clear();
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

// A prefix with the working copy in C:\Client, a product Sample published below the FTP root.
class Machine {
 public:
  explicit Machine(const fs::path& binary) : mPrefix(Prefix::Open(mDir / "prefix")) {
    fs::create_directories(mApp);
    fs::create_directories(mProduct);
    fs::copy_file(binary, mApp / "TandorSample");
    fs::permissions(mApp / "TandorSample", fs::perms(0755));
    mServer.emplace(mDir / "srv");
  }

  const fs::path& Product() const { return mProduct; }
  const fs::path& Local() const { return mLocal; }
  std::string Url(const std::string& name) const {
    return "ftp://127.0.0.1:" + mServer->PortText() + "/Harrowin/Sample/" + name;
  }

  // The manifest of `count` entries named f<n>.<extension>, each installed into C:\Sample.
  void PublishManifest(long count, const char* extension) const {
    std::string text = "[Files]\r\n";
    for (long n = 1; n <= count; ++n) {
      const std::string name = Name(n, extension);
      text += "[File" + std::to_string(n) + "]\r\nKey=" + name + "\r\nFilename=" + name +
              "\r\nRealname=" + name +
              "\r\nServer Path=$Root/Sample\r\nLocal Path=C:\\Sample\r\n"
              "Product Version=1.0\r\nCopyMode=Normal\r\n";
    }
    test::WriteFile(mProduct / "Tandor10.ini", text);
  }

  // Every file of the manifest present and recorded at the published version.
  void InstallEverything(long count, const char* extension) const {
    fs::remove_all(mLocal);
    fs::create_directories(mLocal);
    std::string record;
    for (long n = 1; n <= count; ++n) {
      const std::string name = Name(n, extension);
      test::WriteFile(mLocal / name, "installed\n");
      record += "[" + name + "]\r\nFilename=" + name +
                "\r\nLocal Path=C:\\Sample\r\nFile Version=\r\nProduct Version=1.0\r\n";
    }
    test::WriteFile(mLocal / "Version.ini", record);
  }

  // One pass of the working copy; the connection keys are consumed at every start.
  Run Pass() const {
    test::WriteFile(mApp / "Tandor.ini",
                    "[Tandor]\r\nMethod=FTP\r\nAddress=127.0.0.1\r\nPort=" + mServer->PortText() +
                        "\r\nUser=tandor\r\nPassword=secret\r\nRoot=/Harrowin\r\n");
    std::vector<std::string> command = Wrapper();
    command.insert(command.end(), {(mApp / "TandorSample").string(), "Sample"});
    return Execute(command,
                   {{"TANDOR_PREFIX", (mDir / "prefix").string()},
                    {"TANDOR_UNATTENDED", "1"},
                    {"QT_QPA_PLATFORM", "offscreen"}},
                   mDir / "pass.out");
  }

  std::string PassOutput() const { return test::ReadFile(mDir / "pass.out"); }
  fs::path Scratch(const char* name) const { return mDir / name; }

 private:
  TempDir mDir;
  Prefix mPrefix;
  fs::path mApp = mDir / "prefix" / "drive_c" / "Client";
  fs::path mProduct = mDir / "srv" / "Harrowin" / "Sample";
  fs::path mLocal = mDir / "prefix" / "drive_c" / "Sample";
  std::optional<test::FtpServer> mServer;
};

// (a) The median time of a pass that finds every file in place.
double NothingToInstall(const fs::path& binary, long count) {
  Machine machine(binary);
  machine.PublishManifest(count, "txt");
  machine.InstallEverything(count, "txt");
  std::vector<double> times;
  for (int i = 0; i <= kRuns; ++i) {
    Run run = machine.Pass();
    const std::string output = machine.PassOutput();
    if (run.Status != 0 || output.find("다운로드 합니다") != std::string::npos) {
      std::printf("  pass over %ld entries failed (status %d):\n%s\n", count, run.Status,
                  output.substr(0, 2000).c_str());
      return -1;
    }
    if (i > 0) times.push_back(run.Seconds);  // the first run warms the caches
  }
  return Median(times);
}

long CountFiles(const fs::path& folder, const char* extension) {
  long count = 0;
  std::error_code ec;
  for (const auto& file : fs::directory_iterator(folder, ec))
    if (file.path().extension() == std::string(".") + extension &&
        fs::file_size(file.path()) == 10240)
      ++count;
  return count;
}

// (b) First install of `count` files of 10 KiB, ours and curl's, median of kRuns each.
void FirstInstall(const fs::path& binary, long count) {
  Machine machine(binary);
  const std::string bytes(10240, 'z');
  for (long n = 1; n <= count; ++n) test::WriteFile(machine.Product() / Name(n, "bin"), bytes);
  machine.PublishManifest(count, "bin");

  std::vector<std::string> urls;
  for (long n = 1; n <= count; ++n) urls.push_back(machine.Url(Name(n, "bin")));
  // curl in active mode, as the updater transfers.
  auto curl = [&] {
    const fs::path folder = machine.Scratch("curl");
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::vector<std::string> args = {
        "curl", "-sS",          "--user",        "tandor:secret",    "-P",
        "-",    "--output-dir", folder.string(), "--remote-name-all"};
    args.insert(args.end(), urls.begin(), urls.end());
    Run run = Execute(args, {}, machine.Scratch("curl.out"));
    const long fetched = CountFiles(folder, "bin");
    if (run.Status != 0 || fetched != count) {
      std::printf("  curl ended with status %d, %ld files fetched: %s\n", run.Status, fetched,
                  test::ReadFile(machine.Scratch("curl.out")).c_str());
      run.Status = -2;
    }
    return run;
  };

  std::vector<double> ours, theirs;
  for (int i = 0; i < kRuns; ++i) {
    fs::remove_all(machine.Local());
    Run run = machine.Pass();
    if (run.Status != 0 || CountFiles(machine.Local(), "bin") != count) {
      std::printf("  first install failed (status %d):\n%s\n", run.Status,
                  machine.PassOutput().substr(0, 2000).c_str());
      return;
    }
    ours.push_back(run.Seconds);
    Run other = curl();
    if (other.Status != 0) return;
    theirs.push_back(other.Seconds);
  }
  const double o = Median(ours), c = Median(theirs);
  std::printf("first install, %ld files of 10 KiB over active FTP (median of %d):\n", count, kRuns);
  std::printf("  Tandor working copy   %8.3f s\n", o);
  std::printf("  curl, one command     %8.3f s\n", c);
  std::printf("  ours/curl %.2f (goal <= 1.5%s)\n", o / c, o / c <= 1.5 ? ": met" : ": MISSED");
}

void NothingToInstallFigures(const fs::path& binary) {
  std::printf("pass with nothing to install (median of %d, after one warm-up run):\n", kRuns);
  const double empty = NothingToInstall(binary, 0);
  std::printf("  %6d entries  %8.3f s\n", 0, empty);
  double previous = -1;
  for (long count : {1000L, 10000L}) {
    const double seconds = NothingToInstall(binary, count);
    std::printf(
        "  %6ld entries  %8.3f s   %.1f us per entry above the empty pass%s\n", count, seconds,
        (seconds - empty) * 1e6 / static_cast<double>(count),
        count == 10000 ? (seconds < 1.0 ? "   (goal < 1 s: met)" : "   (goal < 1 s: MISSED)") : "");
    if (previous > 0)
      std::printf("  growth 1,000 -> 10,000 entries above the empty pass: x%.1f (linear: x10)\n",
                  (seconds - empty) / (previous - empty));
    previous = seconds;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path binary =
      argc > 1 ? fs::path(argv[1]) : fs::absolute(argv[0]).parent_path().parent_path() / "Tandor";
  if (!fs::exists(binary)) {
    std::fprintf(stderr, "no updater at %s; give its path as the first argument\n", binary.c_str());
    return 2;
  }
  std::printf("updater: %s\n", binary.c_str());

  const std::string only = argc > 2 ? argv[2] : "";  // "pass" or "install": that part alone

  if (only != "install") NothingToInstallFigures(binary);
  if (only != "pass") FirstInstall(binary, 1000);
  return 0;
}
