#include "platform/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "platform/Error.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// Owns a file descriptor.
class Descriptor {
 public:
  explicit Descriptor(int fd) : mFd(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return mFd; }
  bool Close() {
    if (mFd < 0) return true;
    int rc = ::close(mFd);
    mFd = -1;
    return rc == 0;
  }

 private:
  int mFd;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const fs::path& file) {
  Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

fs::path TemporarySibling(const fs::path& file) {
  static std::atomic<unsigned> counter{0};
  return fs::path(file.string() + ".tmp" + std::to_string(::getpid()) + "." +
                  std::to_string(counter++));
}

bool WriteFileAtomically(const fs::path& file, std::string_view bytes) {
  mode_t mode = 0644;
  struct stat info {};
  if (::stat(file.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) return false;
    mode = info.st_mode & 07777;
  }
  const fs::path temp = TemporarySibling(file);
  Descriptor fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (fd.Get() < 0) return false;
  bool ok =
      WriteAll(fd.Get(), bytes) && ::fchmod(fd.Get(), mode) == 0 && ::fdatasync(fd.Get()) == 0;
  ok = fd.Close() && ok;
  if (ok && ::rename(temp.c_str(), file.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

void CopyFileInPlace(const fs::path& from, const fs::path& to) {
  std::optional<std::string> bytes = ReadWholeFile(from);
  if (!bytes) {
    int error = errno;
    throw RuntimeError(ErrorNumberFromErrno(error), "Cannot read " + from.string());
  }
  Descriptor fd(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755));
  if (fd.Get() < 0) {
    int error = errno;
    throw RuntimeError(ErrorNumberFromErrno(error), "Permission denied: " + to.string());
  }
  if (!WriteAll(fd.Get(), *bytes) || ::fchmod(fd.Get(), 0755) != 0 || !fd.Close()) {
    int error = errno;
    throw RuntimeError(ErrorNumberFromErrno(error), "Cannot write " + to.string());
  }
}

}  // namespace tandor
