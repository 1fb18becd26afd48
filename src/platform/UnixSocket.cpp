#include "platform/UnixSocket.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/FileDescriptor.h"

namespace tandor {

bool SomeoneListensAt(const std::string& name, SocketName kind) {
  sockaddr_un address{};
  const std::size_t start = kind == SocketName::Abstract ? 1 : 0;  // abstract names begin with 0
  if (name.empty() || start + name.size() >= sizeof(address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + start, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + start + name.size());
  const FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.Get() < 0) return false;
  return ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) == 0 ||
         errno == EAGAIN;
}

}  // namespace tandor
