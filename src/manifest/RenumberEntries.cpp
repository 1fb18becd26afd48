#include "manifest/RenumberEntries.h"

#include "text/TextCase.h"
#include "util/PathMacros.h"

namespace tandor {

namespace {

constexpr std::string_view kHeaderStart = "[File";

// Position of the "]" closing a header that starts at `start`, or npos when the line (or the
// text) ends first.
std::size_t HeaderEnd(std::string_view text, std::size_t start) {
  for (std::size_t at = start + 1; at < text.size(); ++at) {
    if (text[at] == ']') return at;
    if (text[at] == '\r' || text[at] == '\n') break;
  }
  return std::string_view::npos;
}

}  // namespace

std::string RenumberEntries(std::string_view text) {
  std::string numbered;
  numbered.reserve(text.size() + 16);
  long number = 0;
  std::size_t done = 0;
  for (std::size_t start = FindIgnoreCase(text, kHeaderStart); start != std::string_view::npos;
       start = FindIgnoreCase(text, kHeaderStart, start + 1)) {
    if (start < done) continue;  // inside a header already renumbered
    std::size_t end = HeaderEnd(text, start);
    if (end == std::string_view::npos) continue;
    numbered.append(text.substr(done, start - done));
    numbered.append(kHeaderStart).append(std::to_string(number++)).append("]");
    done = end + 1;
  }
  numbered.append(text.substr(done));
  return ReplaceIgnoringCase(numbered, "[File0]", "[Files]");
}

}  // namespace tandor
