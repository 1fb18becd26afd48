// What integrity costs, against nginx on 127.0.0.1 (started and stopped here):
//   - 1 GiB over HTTP with the digest checked while writing vs the same download without it
//     (goal: at least 0.9x);
//   - the same file over HTTPS, ours vs the curl command-line tool (goal: at least 0.8x).
// TANDOR_BENCH_MB sets another size. Each figure is the best of three alternating rounds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "support/ServerProcess.h"
#include "support/TempDir.h"
#include "transfer/FTP.h"
#include "util/Integrity.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kScript = std::string(TANDOR_SOURCE_DIR) + "/tests/support/servers.py";

double Seconds(const std::function<void()>& run) {
  const auto start = Clock::now();
  run();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Check(bool ok, const tandor::FTP& ftp) {
  if (ok) return;
  std::fprintf(stderr, "download failed: %s\n", ftp.GetLastErrorMessage().c_str());
  std::exit(1);
}

}  // namespace

int main() {
  const char* mb = std::getenv("TANDOR_BENCH_MB");
  const std::int64_t size = (mb ? std::atoll(mb) : 1024) << 20;
  tandor::test::TempDir dir;
  fs::create_directories(dir / "srv");
  {
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + i / 977);
    std::ofstream out(dir / "srv" / "big.bin", std::ios::binary);
    for (std::int64_t left = size; left > 0; left -= static_cast<std::int64_t>(block.size()))
      out.write(block.data(), std::min<std::int64_t>(left, block.size()));
  }
  const tandor::Sha256Digest digest = *tandor::Sha256OfFile(dir / "srv" / "big.bin");
  const std::string python = std::string("/usr/bin/python3");
  if (std::system((python + " " + kScript + " certs --root " + dir.Path().string()).c_str()) != 0)
    return 1;
  tandor::test::ServerProcess http({python, kScript, "nginx", "--root", (dir / "srv").string()});
  tandor::test::ServerProcess https({python, kScript, "nginx", "--root", (dir / "srv").string(),
                                     "--cert", (dir / "good").string()});
  const fs::path local = dir / "big.bin";
  const double mib = static_cast<double>(size) / (1 << 20);

  const auto ours = [&](int port, bool tls, bool hashed) {
    tandor::FtpOptions options;
    options.Tls = tls;
    options.CaFile = (dir / "ca.pem").string();
    tandor::FTP ftp({}, options);
    ftp.Service(tandor::FTP::ServiceHttp);
    ftp.OpenConnection("127.0.0.1", "", "", std::to_string(port));
    tandor::DownloadRequest request{.Target = local, .Remote = "/big.bin"};
    if (hashed) request.Sha256 = digest;
    Check(ftp.Download(request).Done(), ftp);
  };
  // Rounds alternate, and every download is removed at once: a side that ran later would
  // otherwise meet the page cache full of the other side's unwritten bytes.
  double plain = 1e9, hashed = 1e9, secure = 1e9, curlSecure = 1e9;
  const std::string curl = "curl -sf --cacert " + (dir / "ca.pem").string() + " -o " +
                           local.string() + " https://127.0.0.1:" + std::to_string(https.Port()) +
                           "/big.bin";
  for (int round = 0; round < 3; ++round) {
    const auto time = [&](double& best, const std::function<void()>& run) {
      best = std::min(best, Seconds(run));
      fs::remove(local);
    };
    time(plain, [&] { ours(http.Port(), false, false); });
    time(hashed, [&] { ours(http.Port(), false, true); });
    time(secure, [&] { ours(https.Port(), true, true); });
    time(curlSecure, [&] {
      if (std::system(curl.c_str()) != 0) std::exit(1);
    });
  }

  std::printf("%.0f MiB from nginx on 127.0.0.1, best of 3\n", mib);
  std::printf("  HTTP without SHA256=     %8.1f MiB/s\n", mib / plain);
  std::printf("  HTTP with SHA256=        %8.1f MiB/s   ratio %.2f (goal >= 0.90)\n", mib / hashed,
              plain / hashed);
  std::printf("  HTTPS ours, SHA256=      %8.1f MiB/s\n", mib / secure);
  std::printf("  HTTPS curl               %8.1f MiB/s   ours/curl %.2f (goal >= 0.80)\n",
              mib / curlSecure, curlSecure / secure);
  return 0;
}
