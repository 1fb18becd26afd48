#include "platform/Error.h"

#include <cerrno>
#include <cstring>

namespace tandor {

int ErrorNumberFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case ETXTBSY:
    case EROFS:
    case EBUSY:
      return err::PermissionDenied;
    case ENOENT:
      return err::FileNotFound;
    case ENOTDIR:
      return err::PathNotFound;
    default:
      return err::PathFileAccess;
  }
}

std::string ErrnoText(int error) {
  char buffer[256];
  // The GNU form: it returns the text, which need not be in the buffer.
  return strerror_r(error, buffer, sizeof buffer);
}

}  // namespace tandor
