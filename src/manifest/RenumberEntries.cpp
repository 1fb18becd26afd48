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

std::optional<long long> ParseSerial(std::string_view text) {
  if (text.size() > 18) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<std::string> RaiseSerial(std::string_view text) {
  constexpr std::size_t npos = std::string_view::npos;
  std::size_t insertAt = npos;  // just after the [Files] header's line
  std::string_view lineEnd;     // the header's own line end
  bool inFiles = false;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t newline = text.find('\n', start);
    const std::size_t next = newline == npos ? text.size() : newline + 1;
    std::string_view line = text.substr(start, (newline == npos ? text.size() : newline) - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    const std::string_view trimmed = Trim(line);
    const std::size_t close = trimmed.find(']');
    const std::size_t equals = trimmed.find('=');
    if (trimmed.starts_with('[') && close != npos) {
      if (inFiles) break;  // the section ended without a serial
      inFiles = EqualsIgnoreCase(Trim(trimmed.substr(1, close - 1)), "Files");
      if (inFiles) {
        insertAt = next;
        lineEnd = text.substr(start + line.size(), next - start - line.size());
      }
    } else if (inFiles && equals != npos &&
               EqualsIgnoreCase(Trim(trimmed.substr(0, equals)), "Serial")) {
      const std::optional<long long> serial = ParseSerial(Trim(trimmed.substr(equals + 1)));
      if (!serial || *serial >= 999'999'999'999'999'999) return std::nullopt;
      return std::string(text.substr(0, start)) + "Serial=" + std::to_string(*serial + 1) +
             std::string(text.substr(start + line.size()));
    }
    start = next;
  }
  if (insertAt == npos) return std::string(text);
  if (lineEnd.empty()) return std::string(text) + "\r\nSerial=1";  // [Files] is the last line
  return std::string(text.substr(0, insertAt)) + "Serial=1" + std::string(lineEnd) +
         std::string(text.substr(insertAt));
}

}  // namespace tandor
