#pragma once
// The first steps of an update pass: connect to the servers of Address in order until one
// serves the product's manifest, and download a manifest from it.

#include <optional>
#include <string>

#include "sync/PassEnd.h"

namespace tandor {

struct PassContext;

// Why a server's manifest cannot be used.
struct ManifestFailure {
  // It sent something else (an error page, garbage), or this machine could not keep it: shown
  // as a failure, not as a server that did not answer.
  bool NotAManifest = false;
  std::string Text;
};

// Creates the pass's connection and opens the servers in order until one serves the manifest;
// the context's Server then names it. With several servers, each that fails is reported with
// its reason, and the one that serves is named. Nothing when a server serves the manifest;
// otherwise how the pass ends: a server that answered without a manifest is reported as that
// failure, else the connection failure, and the window then waits for EXIT.
std::optional<PassOutcome> SelectServer(PassContext& pass);

// Downloads the manifest `name` from the server just opened into the product folder.
std::optional<ManifestFailure> TakeManifest(PassContext& pass, const std::string& name);

// Shows and logs why a manifest cannot be used. The pass ends with NoServer: the caller sets it
// first, so that an EXIT pressed meanwhile ends it so too.
void ReportManifestFailure(PassContext& pass, const ManifestFailure& failure);
// Shows and logs why a manifest is not trusted; the pass ends with Untrusted, set first as above.
void RefuseManifest(PassContext& pass, const std::string& text);

}  // namespace tandor
