#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "app/Options.h"
#include "app/WindowRoles.h"
#include "platform/Error.h"
#include "platform/FileDescriptor.h"

// The window library's bytes, placed in the program's file by the build.
extern "C" const unsigned char tandor_window_library[];
extern "C" const unsigned char tandor_window_library_end[];

namespace tandor {

namespace {

[[noreturn]] void CannotLoad(const std::string& why) {
  std::fprintf(stderr, "Tandor: the windows cannot be loaded: %s\n", why.c_str());
  EndProgramNow(exit_status::Unavailable);
}

// Kernels that can make anonymous files unexecutable by default (vm.memfd_noexec) want this
// flag to map one as code; older kernels refuse it.
constexpr unsigned kMemfdExec = 0x0010U;

// The library goes into an anonymous file in memory, never to the disk, and is loaded from there.
const WindowRoles* Load() {
  FileDescriptor fd(memfd_create("tandor-windows", MFD_CLOEXEC | kMemfdExec));
  if (fd.Get() < 0 && errno == EINVAL)
    fd = FileDescriptor(memfd_create("tandor-windows", MFD_CLOEXEC));
  if (fd.Get() < 0) CannotLoad(ErrnoText(errno));
  const unsigned char* next = tandor_window_library;
  while (next < tandor_window_library_end) {
    const ssize_t written = ::write(fd.Get(), next, tandor_window_library_end - next);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) CannotLoad(ErrnoText(errno));
    next += written;
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd.Get());
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  fd.Close();
  if (!library) CannotLoad(dlerror());
  auto entry = reinterpret_cast<WindowRolesEntry>(dlsym(library, kWindowRolesEntry));
  if (!entry) CannotLoad(dlerror());
  return entry();
}

}  // namespace

const WindowRoles& Windows() {
  static const WindowRoles* const roles = Load();
  return *roles;
}

}  // namespace tandor
