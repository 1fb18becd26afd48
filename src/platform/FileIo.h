#pragma once
// Whole-file reads and atomic whole-file writes.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tandor {

// The file's bytes; nothing when it cannot be opened or is not a regular file.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& file);

// Writes `bytes` to a temporary file beside `file`, flushes it to disk and renames it over
// `file`, so that readers see either the old or the new content, never a part. The mode of an
// existing file is kept. Returns false (and leaves `file` as it was) on any failure.
bool WriteFileAtomically(const std::filesystem::path& file, std::string_view bytes);

// Copies `from` onto `to` in place: an existing file is truncated and rewritten, so that a
// target that is a running program fails (as a file in use does) instead of being replaced
// behind its back. The target becomes executable. Throws RuntimeError (70 when the target is in
// use or not writable, 53 when the source is missing).
void CopyFileInPlace(const std::filesystem::path& from, const std::filesystem::path& to);

// A temporary name beside `file` that no other writer in this or another process uses:
// `file` + ".tmp" + process id + "." + counter. The name is remembered until the program ends,
// so that RemoveOwnTemporaries can take away whatever is still there.
std::filesystem::path TemporarySibling(const std::filesystem::path& file);

// Tells that `temp`, a name TemporarySibling made, is renamed or removed.
void ForgetTemporary(const std::filesystem::path& temp);

// A TemporarySibling name beside a file, for a file that either takes its target's name at the
// end or goes: whatever has the name when this goes is removed.
class SiblingFile {
 public:
  explicit SiblingFile(const std::filesystem::path& beside) : mPath(TemporarySibling(beside)) {}
  ~SiblingFile() { Remove(); }
  SiblingFile(const SiblingFile&) = delete;
  SiblingFile& operator=(const SiblingFile&) = delete;

  const std::filesystem::path& Path() const { return mPath; }
  // Gives the file the name `target`, in one rename over the file that has it. Throws
  // RuntimeError when that fails; the file then stays under its own name, to go with this.
  void RenameTo(const std::filesystem::path& target);
  // Removes what has the name now (nothing, say, when nothing was written yet).
  void Remove();

 private:
  std::filesystem::path mPath;
};

// An unnamed file in `folder`, open for writing, that only LinkUnnamedFile gives a name: if the
// program dies first, nothing is left behind. -1 (with errno) where the file system or the
// machine cannot make or later link one; the caller then writes under a TemporarySibling name.
int OpenUnnamedFile(const std::filesystem::path& folder);

// Gives the unnamed file `fd` the name `file`. A file that has that name already stays whole
// until the new one replaces it in one rename. Returns 0, or the errno of the failure (the new
// file then still has no name and `file` is as it was).
int LinkUnnamedFile(int fd, const std::filesystem::path& file);

// Gives the regular file `from` the name `to` (a TemporarySibling name) and opens it there for
// reading and appending, never through a link. A link at `from` is removed and what it points to
// left as it is: a link is nothing this program made, and whoever planted it must not have its
// target written. Returns -1 when there is nothing to take over (no file, a link, anything else
// but a regular file, or a file that changed places on the way); the caller starts afresh.
int TakeOverFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Removes every temporary file this process named and has not renamed or removed itself: for a
// program that ends at once, in the middle of a transfer or an extraction.
void RemoveOwnTemporaries();

// The process id in a name that TemporarySibling made, or nothing for any other name.
std::optional<int> TemporaryOwner(std::string_view fileName);

// Removes the temporary files in `folder` (not below it) whose process no longer runs, as a
// program killed in the middle of a transfer leaves them. Returns how many went.
int RemoveStaleTemporaries(const std::filesystem::path& folder);

}  // namespace tandor
