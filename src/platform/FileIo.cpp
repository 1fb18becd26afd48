#include "platform/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/FileDescriptor.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

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
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
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

namespace {

// The temporary names this process handed out that may still exist on disk.
struct OwnTemporaries {
  std::mutex Lock;
  std::vector<fs::path> Paths;
};

OwnTemporaries& Temporaries() {
  static OwnTemporaries temporaries;
  return temporaries;
}

bool Exists(const fs::path& file) {
  struct stat info {};
  return ::lstat(file.c_str(), &info) == 0;
}

}  // namespace

fs::path TemporarySibling(const fs::path& file) {
  static std::atomic<unsigned> counter{0};
  fs::path temp(file.string() + ".tmp" + std::to_string(::getpid()) + "." +
                std::to_string(counter++));
  OwnTemporaries& own = Temporaries();
  std::lock_guard<std::mutex> hold(own.Lock);
  // Names renamed or removed without a word are forgotten now and then, so the list stays short.
  if (own.Paths.size() >= 64)
    std::erase_if(own.Paths, [](const fs::path& p) { return !Exists(p); });
  own.Paths.push_back(temp);
  return temp;
}

void SiblingFile::RenameTo(const fs::path& target) {
  if (::rename(mPath.c_str(), target.c_str()) != 0) {
    const int error = errno;
    throw RuntimeError(ErrorNumberFromErrno(error), target.string() + ": " + ErrnoText(error),
                       error);
  }
  ForgetTemporary(mPath);
  mPath.clear();
}

void SiblingFile::Remove() {
  if (mPath.empty()) return;
  ::unlink(mPath.c_str());
  ForgetTemporary(mPath);
  mPath.clear();
}

void ForgetTemporary(const fs::path& temp) {
  OwnTemporaries& own = Temporaries();
  std::lock_guard<std::mutex> hold(own.Lock);
  // The name handed out last is usually the one done with.
  auto found = std::find(own.Paths.rbegin(), own.Paths.rend(), temp);
  if (found != own.Paths.rend()) own.Paths.erase(std::next(found).base());
}

void RemoveOwnTemporaries() {
  OwnTemporaries& own = Temporaries();
  std::lock_guard<std::mutex> hold(own.Lock);
  for (const fs::path& path : own.Paths) ::unlink(path.c_str());
  own.Paths.clear();
}

std::optional<int> TemporaryOwner(std::string_view fileName) {
  const std::size_t tmp = fileName.rfind(".tmp");
  if (tmp == std::string_view::npos || tmp == 0) return std::nullopt;
  std::string_view rest = fileName.substr(tmp + 4);
  const std::size_t dot = rest.find('.');
  if (dot == 0 || dot == std::string_view::npos || dot + 1 == rest.size()) return std::nullopt;
  auto digits = [](std::string_view text) {
    return text.size() <= 10 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!digits(rest.substr(0, dot)) || !digits(rest.substr(dot + 1))) return std::nullopt;
  const long pid = std::stol(std::string(rest.substr(0, dot)));
  if (pid <= 0 || pid > std::numeric_limits<int>::max()) return std::nullopt;
  return static_cast<int>(pid);
}

int RemoveStaleTemporaries(const fs::path& folder) {
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::optional<int> owner = TemporaryOwner(it->path().filename().native());
    if (!owner) continue;
    // A name of this very process can only be left over from an earlier one with the same id:
    // this pass has not made any in this folder yet.
    const bool gone = *owner == ::getpid() || (::kill(*owner, 0) != 0 && errno == ESRCH);
    if (gone && ::unlink(it->path().c_str()) == 0) ++removed;
  }
  return removed;
}

int TakeOverFile(const fs::path& from, const fs::path& to) {
  struct stat found {};
  if (::lstat(from.c_str(), &found) != 0) return -1;
  if (S_ISLNK(found.st_mode)) ::unlink(from.c_str());
  if (!S_ISREG(found.st_mode) || ::rename(from.c_str(), to.c_str()) != 0) return -1;
  FileDescriptor fd(::open(to.c_str(), O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
  struct stat opened {};
  // What took the name's place between the look and the rename is not taken over either.
  if (fd.Get() < 0 || ::fstat(fd.Get(), &opened) != 0 || opened.st_dev != found.st_dev ||
      opened.st_ino != found.st_ino) {
    ::unlink(to.c_str());
    return -1;
  }
  return fd.Release();
}

int OpenUnnamedFile(const fs::path& folder) {
  // Linking an unnamed file needs its /proc name (or a privilege).
  static const bool canLink = ::access("/proc/self/fd", X_OK) == 0;
  if (!canLink) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
}

int LinkUnnamedFile(int fd, const fs::path& file) {
  char self[40];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, self, AT_FDCWD, file.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno != EEXIST) return errno;
  const fs::path temp = TemporarySibling(file);
  int error = 0;
  if (::linkat(AT_FDCWD, self, AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    error = errno;
  } else if (::rename(temp.c_str(), file.c_str()) != 0) {
    error = errno;
    ::unlink(temp.c_str());
  }
  ForgetTemporary(temp);
  return error;
}

bool WriteFileAtomically(const fs::path& file, std::string_view bytes) {
  mode_t mode = 0644;
  struct stat info {};
  if (::stat(file.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) return false;
    mode = info.st_mode & 07777;
  }
  const fs::path temp = TemporarySibling(file);
  FileDescriptor fd(
      ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (fd.Get() < 0) return false;
  bool ok =
      WriteAll(fd.Get(), bytes) && ::fchmod(fd.Get(), mode) == 0 && ::fdatasync(fd.Get()) == 0;
  ok = fd.Close() && ok;
  if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
    ok = false;
    ::unlink(temp.c_str());
  }
  ForgetTemporary(temp);
  return ok;
}

void CopyFileInPlace(const fs::path& from, const fs::path& to) {
  std::optional<std::string> bytes = ReadWholeFile(from);
  if (!bytes) {
    int error = errno;
    throw RuntimeError(ErrorNumberFromErrno(error), "Cannot read " + from.string());
  }
  FileDescriptor fd(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755));
  if (fd.Get() < 0) {
    int error = errno;
    throw RuntimeError(ErrorNumberFromErrno(error), ErrnoText(error) + (": " + to.string()), error);
  }
  if (!WriteAll(fd.Get(), *bytes) || ::fchmod(fd.Get(), 0755) != 0 || !fd.Close()) {
    int error = errno;
    throw RuntimeError(ErrorNumberFromErrno(error), "Cannot write " + to.string());
  }
}

}  // namespace tandor
