#include "platform/FileDescriptor.h"

#include <unistd.h>

#include <utility>

namespace tandor {

FileDescriptor::~FileDescriptor() {
  Close();
}

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept : mFd(other.Release()) {}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    Close();
    mFd = other.Release();
  }
  return *this;
}

int FileDescriptor::Release() {
  return std::exchange(mFd, -1);
}

bool FileDescriptor::Close() {
  if (mFd < 0) return true;
  // The descriptor is gone even when close reports an error: it is never closed twice.
  return ::close(Release()) == 0;
}

}  // namespace tandor
