#include "platform/Error.h"

#include <cerrno>

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

}  // namespace tandor
