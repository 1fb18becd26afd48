#pragma once
// Which manifest a machine takes from the server that served the product's own: that one once
// it is trusted, the fallback its rollout names for a machine outside the share, or none.

#include <filesystem>
#include <optional>
#include <string>

#include "manifest/ManifestReader.h"
#include "sync/PassEnd.h"

namespace tandor {

struct PassContext;

// The manifest this machine takes: the product's own, or the fallback its rollout names.
struct TakenManifest {
  std::string Name;
  std::filesystem::path Local;
  std::string Remote;
  FilesSettings Files;
  // Serial=, or the manifest's SHA-256 when it has none: what a failed release refuses.
  std::string Release;
  bool Hold = false;  // nothing of it is installed in this pass
};

struct ManifestChoice {
  std::optional<TakenManifest> Taken;  // nothing: the pass ends here, with Status
  int Status = pass_status::Completed;
};

// The product's own manifest is checked first; then its rollout decides. A manifest that cannot
// be used, a fallback that is not there or not trusted, ends the pass (each said why).
ManifestChoice ChooseManifest(PassContext& pass);

}  // namespace tandor
