#pragma once
// Readable test failure messages for version fields.

#include <ostream>

#include "util/FileVersion.h"

namespace tandor {

inline void PrintTo(const FileVersionFields& f, std::ostream* os) {
  *os << "{\"" << f.CompanyName << "\", \"" << f.FileDescription << "\", \"" << f.FileVersion
      << "\", \"" << f.InternalName << "\", \"" << f.LegalCopyright << "\", \""
      << f.OriginalFileName << "\", \"" << f.ProductName << "\", \"" << f.ProductVersion << "\"}";
}

}  // namespace tandor
