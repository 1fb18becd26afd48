#pragma once
// Owners of the libarchive handles and of the per-thread locale that libarchive converts entry
// names into.

#include <archive.h>
#include <locale.h>

#include <memory>

namespace tandor {

struct ArchiveReadFree {
  void operator()(archive* handle) const { archive_read_free(handle); }
};
using ArchiveReader = std::unique_ptr<archive, ArchiveReadFree>;

struct ArchiveWriteFree {
  void operator()(archive* handle) const { archive_write_free(handle); }
};
using ArchiveWriter = std::unique_ptr<archive, ArchiveWriteFree>;

// libarchive converts UTF-8 entry names into the character set of the calling thread's locale
// and drops the name when that fails, which in the "C" locale is every non-ASCII name. While an
// object of this type lives, the calling thread (only it) uses a UTF-8 character type locale.
class Utf8ThreadLocale {
 public:
  Utf8ThreadLocale();
  ~Utf8ThreadLocale();
  Utf8ThreadLocale(const Utf8ThreadLocale&) = delete;
  Utf8ThreadLocale& operator=(const Utf8ThreadLocale&) = delete;

 private:
  locale_t mLocale = nullptr;
  locale_t mPrevious = nullptr;
};

}  // namespace tandor
