// Many update passes at once against one nginx on 127.0.0.1. Every pass is the built updater's
// working copy, unattended, in a prefix and application folder of its own, installing over HTTP
// a product of 200 files of 10 KiB and a zip of 20 more. All of them must converge: status 0,
// every file as the server has it, and a second pass that installs nothing. Prints the wall time
// and the time per pass (min, median, max) of both rounds, next to one pass alone, and what
// nginx served.
//
//   load_bench [path of the Tandor binary] [passes]   (defaults: <build>/Tandor, 50)
//
// nginx runs with a configuration of its own in the benchmark's temporary folder and is stopped
// at the end. Exit status 0 when every pass converged.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Prefix.h"
#include "support/TempDir.h"
#include "support/ZipTools.h"
#include "util/ProcessCheck.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace tandor;
using test::ReadFile;
using test::WriteFile;

constexpr int kFiles = 200;
constexpr int kZipFiles = 20;
constexpr std::size_t kFileSize = 10 * 1024;
constexpr auto kRoundLimit = std::chrono::minutes(5);

// Starts `argv` in a process group of its own with `env` added, output to `output`.
pid_t Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            const fs::path& output) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  setpgid(0, 0);
  for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
  const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) _exit(126);
  dup2(fd, 1);
  dup2(fd, 2);
  std::vector<std::string> copies = argv;
  std::vector<char*> args;
  for (std::string& arg : copies) args.push_back(arg.data());
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

// A port below 32768 (the updater's limit) that nothing listens on at the moment.
int FreePort(std::mt19937& random) {
  std::uniform_int_distribution<int> pick(20000, 32767);
  for (int attempt = 0; attempt < 500; ++attempt) {
    const int port = pick(random);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (free) return port;
  }
  throw std::runtime_error("no free port below 32768");
}

// nginx serving `root` on 127.0.0.1, with its configuration, logs and temporary folders in
// `work`. Workers run as nginx's default user when we are root, so both folders must be
// readable by everyone.
class Nginx {
 public:
  Nginx(const fs::path& root, const fs::path& work) : mWork(work) {
    std::mt19937 random(static_cast<unsigned>(getpid()));
    for (int attempt = 0; attempt < 5 && mPid < 0; ++attempt) Start(root, FreePort(random));
    if (mPid < 0) throw std::runtime_error("nginx did not start:\n" + ReadFile(work / "err.log"));
  }
  ~Nginx() {
    if (mPid < 0) return;
    kill(mPid, SIGTERM);
    const auto limit = Clock::now() + std::chrono::seconds(5);
    while (waitpid(mPid, nullptr, WNOHANG) == 0) {
      if (Clock::now() > limit) {
        kill(-mPid, SIGKILL);
        waitpid(mPid, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;

  int Port() const { return mPort; }

  // Requests, bytes of bodies sent and replies other than 200 since the last call.
  struct Served {
    long Requests = 0;
    double Bytes = 0;
    long NotOk = 0;
  };
  Served TakeLog() {
    Served served;
    std::ifstream log(mWork / "access.log");
    log.seekg(mLogRead);
    std::string status;
    double bytes = 0;
    while (log >> status >> bytes) {
      ++served.Requests;
      served.Bytes += bytes;
      if (status != "200") ++served.NotOk;
    }
    log.clear();
    mLogRead = log.tellg();
    return served;
  }

 private:
  void Start(const fs::path& root, int port) {
    const std::string w = mWork.string();
    WriteFile(mWork / "nginx.conf",
              "daemon off;\nworker_processes 2;\npid " + w + "/nginx.pid;\nerror_log " + w +
                  "/err.log;\nevents { worker_connections 1024; }\nhttp {\n"
                  "  log_format counts '$status $body_bytes_sent';\n  access_log " +
                  w + "/access.log counts;\n  client_body_temp_path " + w +
                  "/body;\n  proxy_temp_path " + w + "/proxy;\n  fastcgi_temp_path " + w +
                  "/fastcgi;\n  uwsgi_temp_path " + w + "/uwsgi;\n  scgi_temp_path " + w +
                  "/scgi;\n  default_type application/octet-stream;\n  sendfile on;\n"
                  "  keepalive_requests 100000;\n  server {\n    listen 127.0.0.1:" +
                  std::to_string(port) + ";\n    root " + root.string() + ";\n  }\n}\n");
    const pid_t pid =
        Spawn({"/usr/sbin/nginx", "-e", w + "/err.log", "-p", w + "/", "-c", w + "/nginx.conf"}, {},
              mWork / "nginx.out");
    const auto limit = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < limit) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) return;  // the port was taken, or worse
      if (Accepts(port)) {
        mPid = pid;
        mPort = port;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }

  fs::path mWork;
  pid_t mPid = -1;
  int mPort = 0;
  std::streamoff mLogRead = 0;
};

// Bytes that differ from file to file, so that a mix-up shows.
std::string Content(int seed) {
  std::mt19937 random(static_cast<unsigned>(seed));
  std::string bytes(kFileSize, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random() & 0xff);
  return bytes;
}

std::string Entry(int number, const std::string& name, const std::string& extra) {
  return "[File" + std::to_string(number) + "]\r\nKey=" + name + "\r\nFilename=" + name +
         "\r\nRealname=" + name +
         "\r\nServer Path=$Root/Sample\r\nLocal Path=C:\\Sample\r\nProduct Version=1.0\r\n"
         "CopyMode=Normal\r\n" +
         extra;
}

// The product on the server: its files by the path they get below C:\Sample.
struct Product {
  std::map<std::string, std::string> Files;
  double Bytes = 0;
};

Product Publish(const fs::path& server, const fs::path& scratch) {
  Product product;
  const fs::path folder = server / "Harrowin" / "Sample";
  std::string manifest = "[Files]\r\n";
  for (int n = 1; n <= kFiles; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "f%03d.bin", n);
    product.Files[name] = Content(n);
    WriteFile(folder / name, product.Files[name]);
    manifest += Entry(n, name, "");
  }
  for (int n = 1; n <= kZipFiles; ++n) {
    const std::string name = "pack/p" + std::to_string(n) + ".bin";
    product.Files[name] = Content(1000 + n);
    WriteFile(scratch / name, product.Files[name]);
  }
  test::RunInfoZip(scratch, {"-q", "-r", (folder / "pack.zip").string(), "pack"});
  manifest += Entry(kFiles + 1, "pack.zip", "Extract=1\r\nExtract To=.\\\r\n");
  WriteFile(folder / "Tandor10.ini", manifest);
  for (const auto& item : fs::recursive_directory_iterator(folder))
    if (item.is_regular_file()) product.Bytes += static_cast<double>(item.file_size());
  return product;
}

// One product machine: a prefix with the working copy in C:\Client.
class Machine {
 public:
  Machine(const fs::path& dir, const fs::path& binary) : mDir(dir) {
    Prefix::Open(dir / "prefix");
    fs::create_directories(mApp);
    fs::copy_file(binary, mApp / "TandorSample");
    fs::permissions(mApp / "TandorSample", fs::perms(0755));
  }

  // Starts a pass; the connection keys are consumed at every start, so they are written anew.
  pid_t Start(int port, int round) const {
    WriteFile(mApp / "Tandor.ini", "[Tandor]\r\nMethod=HTTP\r\nAddress=127.0.0.1\r\nPort=" +
                                       std::to_string(port) + "\r\nRoot=/Harrowin\r\n");
    return Spawn({(mApp / "TandorSample").string(), "Sample"},
                 {{"TANDOR_PREFIX", (mDir / "prefix").string()},
                  {"TANDOR_UNATTENDED", "1"},
                  {"QT_QPA_PLATFORM", "offscreen"}},
                 Output(round));
  }

  fs::path Output(int round) const { return mDir / ("pass" + std::to_string(round) + ".out"); }

  // What is wrong with the machine after a pass, or nothing.
  std::optional<std::string> Fault(const Product& product, int status, int round) const {
    const std::string output = ReadFile(Output(round));
    auto fault = [&](const std::string& what) {
      return what + " after round " + std::to_string(round) + ":\n" + output.substr(0, 1500);
    };
    if (status != 0) return fault("status " + std::to_string(status));
    for (const auto& [name, bytes] : product.Files)
      if (ReadFile(mLocal / name) != bytes) return fault(name + " differs from the server's");
    if (round > 1 && output.find("다운로드 합니다") != std::string::npos)
      return fault("the pass installed something again");
    return std::nullopt;
  }

 private:
  fs::path mDir;
  fs::path mApp = mDir / "prefix" / "drive_c" / "Client";
  fs::path mLocal = mDir / "prefix" / "drive_c" / "Sample";
};

struct Round {
  double Wall = 0;
  std::vector<double> Passes;  // seconds per pass, sorted
  std::vector<double> Cpu;     // processor seconds (user and system) per pass, sorted
  int Converged = 0;
};

// Starts a pass on every machine at once and waits for all of them.
Round RunRound(const std::vector<Machine>& machines, const Product& product, int port, int round) {
  Round result;
  const auto start = Clock::now();
  std::vector<pid_t> pids;
  for (const Machine& machine : machines) pids.push_back(machine.Start(port, round));
  std::vector<int> statuses(machines.size(), -1);
  std::size_t running = machines.size();
  while (running > 0) {
    const bool late = Clock::now() - start > kRoundLimit;
    for (std::size_t i = 0; i < pids.size(); ++i) {
      if (pids[i] < 0) continue;
      if (late) kill(-pids[i], SIGKILL);
      int status = 0;
      rusage usage{};
      if (wait4(pids[i], &status, late ? 0 : WNOHANG, &usage) != pids[i]) continue;
      result.Passes.push_back(std::chrono::duration<double>(Clock::now() - start).count());
      result.Cpu.push_back(static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) /
                               1e6);
      statuses[i] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pids[i] = -1;
      --running;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  result.Wall = std::chrono::duration<double>(Clock::now() - start).count();
  std::sort(result.Passes.begin(), result.Passes.end());
  std::sort(result.Cpu.begin(), result.Cpu.end());
  for (std::size_t i = 0; i < machines.size(); ++i) {
    if (const auto fault = machines[i].Fault(product, statuses[i], round))
      std::printf("  pass %zu: %s\n", i + 1, fault->c_str());
    else
      ++result.Converged;
  }
  return result;
}

void PrintRound(const char* title, const Round& round, Nginx::Served served, int passes) {
  const auto& p = round.Passes;
  std::printf("%s\n  wall %.3f s; per pass min %.3f  median %.3f  max %.3f s; %d/%d converged\n",
              title, round.Wall, p.front(), p[p.size() / 2], p.back(), round.Converged, passes);
  const auto& c = round.Cpu;
  std::printf("  processor time per pass min %.3f  median %.3f  max %.3f s (%u cores here)\n",
              c.front(), c[c.size() / 2], c.back(), std::thread::hardware_concurrency());
  std::printf("  nginx served %ld requests (%ld not 200), %.1f MiB, %.1f MiB/s, %.0f requests/s\n",
              served.Requests, served.NotOk, served.Bytes / 1048576,
              served.Bytes / 1048576 / round.Wall,
              static_cast<double>(served.Requests) / round.Wall);
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path binary =
      argc > 1 ? fs::path(argv[1]) : fs::absolute(argv[0]).parent_path().parent_path() / "Tandor";
  const int passes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;
  if (!fs::exists(binary)) {
    std::fprintf(stderr, "no updater at %s; give its path as the first argument\n", binary.c_str());
    return 2;
  }
  // A pass waits while a process named Tandor (its launcher) runs, anybody's.
  if (IsProcessRunning("Tandor"))
    std::printf("note: a process named Tandor is running; every pass waits for it to end\n");

  test::TempDir dir;
  fs::permissions(dir.Path(), fs::perms(0755));
  const Product product = Publish(dir / "srv", dir / "zipsrc");
  fs::create_directories(dir / "nginx");
  Nginx nginx(dir / "srv", dir / "nginx");

  Machine alone(dir / "alone", binary);
  std::vector<Machine> machines;
  for (int i = 0; i < passes; ++i)
    machines.emplace_back(dir / "machines" / std::to_string(i), binary);

  std::printf("updater: %s\n", binary.c_str());
  std::printf("product: %d files of 10 KiB and a zip of %d more, %.2f MiB on the server\n", kFiles,
              kZipFiles, product.Bytes / 1048576);
  std::printf("server: nginx on 127.0.0.1:%d, HTTP\n\n", nginx.Port());

  const Round solo = RunRound({alone}, product, nginx.Port(), 1);
  PrintRound("one pass alone, first install:", solo, nginx.TakeLog(), 1);
  const Round first = RunRound(machines, product, nginx.Port(), 1);
  PrintRound((std::to_string(passes) + " passes at once, first install:").c_str(), first,
             nginx.TakeLog(), passes);
  const Round second = RunRound(machines, product, nginx.Port(), 2);
  PrintRound((std::to_string(passes) + " passes at once, nothing to install:").c_str(), second,
             nginx.TakeLog(), passes);
  const bool all = solo.Converged == 1 && first.Converged == passes && second.Converged == passes;
  std::printf("\n%s\n", all ? "all passes converged" : "NOT ALL PASSES CONVERGED");
  return all ? 0 : 1;
}
