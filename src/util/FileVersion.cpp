#include "util/FileVersion.h"

#include "platform/MappedFile.h"
#include "platform/Prefix.h"
#include "util/VersionResource.h"

namespace tandor {

namespace {

std::optional<VersionResource> LoadVersionResource(const std::filesystem::path& nativeFile) {
  auto file = MappedFile::Open(nativeFile);
  if (!file) return std::nullopt;
  return VersionResource::FromImage(file->Bytes());
}

}  // namespace

VersionInfoQuery::VersionInfoQuery(const Prefix& prefix, CodePage codePage)
    : mPrefix(prefix), mCodePage(codePage) {}

FileVersionFields VersionInfoQuery::QueryFileVersionInfo(const std::string& path) {
  if (path.empty()) return mLastResult;
  auto resource = LoadVersionResource(mPrefix.ToNative(path));
  mLastResult = resource ? resource->Fields(mCodePage) : FileVersionFields{};
  return mLastResult;
}

std::string GetFileVersion(const std::filesystem::path& nativeFile) {
  auto resource = LoadVersionResource(nativeFile);
  if (!resource) return "";
  auto version = resource->FileVersion();
  return version ? version->ToString() : "";
}

ProgramVersion ReadOwnProgramVersion() {
  // The running binary itself, whatever name it was copied or renamed to.
  auto resource = LoadVersionResource("/proc/self/exe");
  auto version = resource ? resource->FileVersion() : std::nullopt;
  if (!version) return {};
  // Major.minor.0.revision, the way the updater numbers its builds (1.0.0.210).
  return ProgramVersion{version->Parts[0], version->Parts[1], version->Parts[3]};
}

}  // namespace tandor
