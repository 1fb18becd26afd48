// Download speed of the transfer client against the curl command-line tool, on the same
// servers (pyftpdlib and the HTTP fixture on 127.0.0.1) and the same files, in one run:
//   - one large file (1 GiB; TANDOR_BENCH_MB sets another size) over FTP and over HTTP:
//     throughput ours/curl (goal: at least 0.95) and our peak memory (goal: under 32 MB);
//   - 1,000 files of 1 KiB over one FTP connection: files per second, ours/curl (curl fetches
//     the same 1,000 URLs in one invocation).
// The files are made in a temporary folder and removed at the end.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "transfer/FTP.h"

#include "support/FtpServer.h"
#include "support/HttpServer.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void MakeFile(const fs::path& file, std::int64_t size) {
  std::string block(1 << 20, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + i / 977);
  std::ofstream out(file, std::ios::binary);
  for (std::int64_t left = size; left > 0; left -= static_cast<std::int64_t>(block.size())) {
    out.write(block.data(), std::min<std::int64_t>(left, block.size()));
  }
}

double TimeCommand(const std::string& command) {
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) {
    std::cerr << "failed: " << command << "\n";
    std::exit(1);
  }
  return Seconds(start);
}

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void Require(bool ok, const tandor::FTP& ftp, const char* what) {
  if (!ok) {
    std::cerr << what << " failed: " << ftp.GetLastErrorMessage() << "\n";
    std::exit(1);
  }
}

}  // namespace

int main() {
  const std::int64_t megabytes =
      std::getenv("TANDOR_BENCH_MB") ? std::atoll(std::getenv("TANDOR_BENCH_MB")) : 1024;
  const std::int64_t bigSize = megabytes << 20;
  constexpr int SmallCount = 1000;

  tandor::test::TempDir dir;
  const fs::path root = dir / "srv";
  fs::create_directories(root / "many");
  MakeFile(root / "big.bin", bigSize);
  for (int i = 0; i < SmallCount; ++i) MakeFile(root / "many" / ("f" + std::to_string(i)), 1024);
  const long rssBefore = PeakRssKiB();

  tandor::test::FtpServer ftpServer(root);
  tandor::test::HttpServer httpServer(root);
  const std::string ftpBase = "ftp://" + ftpServer.User() + ":" + ftpServer.Password() +
                              "@127.0.0.1:" + ftpServer.PortText();
  const std::string httpBase = "http://127.0.0.1:" + httpServer.PortText();
  const fs::path out = dir / "out.bin";
  std::int64_t lastEvent = 0;
  tandor::FtpEvents events{[] {}, [&](std::int64_t current, std::int64_t) { lastEvent = current; }, {}};

  // Large file over FTP, active mode as the program runs it (curl: -P -).
  tandor::FTP ftp(events);
  Require(
      ftp.OpenConnection("127.0.0.1", ftpServer.User(), ftpServer.Password(), ftpServer.PortText()),
      ftp, "connect");
  // Each side runs twice, alternating, and keeps its better time: the page cache and the
  // other programs on the machine then favour neither.
  double oursFtp = 1e9, curlFtp = 1e9;
  for (int round = 0; round < 2; ++round) {
    const auto start = Clock::now();
    Require(ftp.FTPDownloadFile(out, "big.bin"), ftp, "FTP download");
    oursFtp = std::min(oursFtp, Seconds(start));
    fs::remove(out);
    curlFtp = std::min(curlFtp, TimeCommand("curl -s -S -P - -o '" + out.string() + "' '" +
                                            ftpBase + "/big.bin'"));
    fs::remove(out);
  }

  // Large file over HTTP.
  tandor::FTP http(events);
  http.Service(tandor::FTP::ServiceHttp);
  Require(http.OpenConnection("127.0.0.1", "", "", httpServer.PortText()), http, "connect");
  double oursHttp = 1e9, curlHttp = 1e9;
  for (int round = 0; round < 2; ++round) {
    const auto start = Clock::now();
    Require(http.HTTPDownloadFile(out, "/big.bin"), http, "HTTP download");
    oursHttp = std::min(oursHttp, Seconds(start));
    fs::remove(out);
    curlHttp = std::min(
        curlHttp, TimeCommand("curl -s -S -o '" + out.string() + "' '" + httpBase + "/big.bin'"));
    fs::remove(out);
  }
  const long peakKiB = PeakRssKiB();

  // Many small files on one connection.
  fs::create_directories(dir / "got");
  const auto start = Clock::now();
  for (int i = 0; i < SmallCount; ++i) {
    const std::string name = "f" + std::to_string(i);
    Require(ftp.FTPDownloadFile(dir / "got" / name, "many/" + name), ftp, "small download");
  }
  const double oursSmall = Seconds(start);
  {
    std::ofstream config(dir / "curl.cfg");
    for (int i = 0; i < SmallCount; ++i) {
      const std::string name = "f" + std::to_string(i);
      config << "url = \"" << ftpBase << "/many/" << name << "\"\n"
             << "output = \"" << (dir / "curlgot" / name).string() << "\"\n";
    }
  }
  fs::create_directories(dir / "curlgot");
  const double curlSmall = TimeCommand("curl -s -S -P - -K '" + (dir / "curl.cfg").string() + "'");
  ftp.CloseConnection();

  const double mib = static_cast<double>(bigSize) / (1 << 20);
  std::printf("transfer_bench: %lld MiB file, 127.0.0.1\n", static_cast<long long>(megabytes));
  std::printf("  FTP  ours %8.1f MiB/s  curl %8.1f MiB/s  ratio %.2f (goal >= 0.95)\n",
              mib / oursFtp, mib / curlFtp, curlFtp / oursFtp);
  std::printf("  HTTP ours %8.1f MiB/s  curl %8.1f MiB/s  ratio %.2f (goal >= 0.95)\n",
              mib / oursHttp, mib / curlHttp, curlHttp / oursHttp);
  std::printf("  peak memory of our process %.1f MB (%.1f MB before the transfers; goal < 32)\n",
              peakKiB / 1024.0, rssBefore / 1024.0);
  std::printf(
      "  %d files of 1 KiB, one FTP connection: ours %.0f files/s  curl %.0f files/s  "
      "ratio %.2f\n",
      SmallCount, SmallCount / oursSmall, SmallCount / curlSmall, curlSmall / oursSmall);
  return lastEvent == 1024 ? 0 : 1;
}
