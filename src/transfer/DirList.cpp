#include "transfer/DirList.h"

#include "platform/Error.h"
#include "text/TextCase.h"

namespace tandor {

namespace {

constexpr int InvalidArgument = 5;
constexpr int DuplicateKey = 457;

// ASCII folding is enough: listings name files in the code page's ASCII subset or compare
// multibyte names exactly, as the collection this mirrors does.
std::string FoldKey(std::string_view name) {
  return LowerAscii(name);
}

}  // namespace

void DirList::Add(std::uint32_t attributes, double creationTime, double lastAccessTime,
                  double lastWriteTime, std::int64_t fileSize, const std::string& fileName) {
  std::string key = FoldKey(fileName);
  if (mIndexByKey.contains(key)) {
    throw RuntimeError(DuplicateKey,
                       "This key is already associated with an element of this collection");
  }
  DirItem item;
  item.ReadOnly = attributes & attr::ReadOnly;
  item.Hidden = attributes & attr::Hidden;
  item.System = attributes & attr::System;
  item.Directory = attributes & attr::Directory;
  item.Archive = attributes & attr::Archive;
  item.Normal = attributes & attr::Normal;
  item.Temporary = attributes & attr::Temporary;
  item.Compressed = attributes & attr::Compressed;
  item.Offline = attributes & attr::Offline;
  item.CreationTime = creationTime;
  item.LastAccessTime = lastAccessTime;
  item.LastWriteTime = lastWriteTime;
  item.FileSize = fileSize;
  item.FileName = fileName;
  mItems.push_back(std::move(item));
  mIndexByKey.emplace(std::move(key), mItems.size() - 1);
}

void DirList::Clear() {
  mItems.clear();
  mIndexByKey.clear();
}

const DirItem& DirList::Item(std::size_t position) const {
  if (position < 1 || position > mItems.size()) {
    throw RuntimeError(InvalidArgument, "Invalid procedure call or argument");
  }
  return mItems[position - 1];
}

const DirItem& DirList::Item(std::string_view fileName) const {
  auto found = mIndexByKey.find(FoldKey(fileName));
  if (found == mIndexByKey.end()) {
    throw RuntimeError(InvalidArgument, "Invalid procedure call or argument");
  }
  return mItems[found->second];
}

bool DirList::Contains(std::string_view fileName) const {
  return mIndexByKey.contains(FoldKey(fileName));
}

}  // namespace tandor
