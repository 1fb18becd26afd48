#pragma once
// An ordered listing keyed by file name; keys compare without regard to letter case.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "transfer/DirItem.h"

namespace tandor {

class DirList {
 public:
  // Adds an item under `fileName`. A name that is already a key (in any letter case) raises
  // RuntimeError 457 and leaves the list as it was.
  void Add(std::uint32_t attributes, double creationTime, double lastAccessTime,
           double lastWriteTime, std::int64_t fileSize, const std::string& fileName);
  void Clear();

  // By position, counting from 1, or by file name. Out of range or absent: RuntimeError 5.
  const DirItem& Item(std::size_t position) const;
  const DirItem& Item(std::string_view fileName) const;
  bool Contains(std::string_view fileName) const;

  std::size_t Count() const { return mItems.size(); }

 private:
  std::vector<DirItem> mItems;
  std::unordered_map<std::string, std::size_t> mIndexByKey;  // folded name -> position - 1
};

}  // namespace tandor
