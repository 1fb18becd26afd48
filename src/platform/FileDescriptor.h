#pragma once
// The one owner of a file descriptor: it closes what it holds when it goes. A caller that must
// know whether the close worked (a write's failure may show only there) closes it earlier.

namespace tandor {

class FileDescriptor {
 public:
  FileDescriptor() = default;
  // Takes `fd` over; a negative value holds nothing.
  explicit FileDescriptor(int fd) : mFd(fd) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept;
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  // The descriptor; -1 when none is held.
  int Get() const { return mFd; }
  // Hands the descriptor to the caller, who closes it from now on; none is held afterwards.
  int Release();
  // Closes the descriptor now. False when the close failed (errno says why); holding none is no
  // failure. None is held afterwards either way.
  bool Close();

 private:
  int mFd = -1;
};

}  // namespace tandor
