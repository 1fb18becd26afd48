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

// Where a key of the [Files] section is, or where it would go.
struct FilesKey {
  static constexpr std::size_t npos = std::string_view::npos;
  std::size_t InsertAt = npos;     // just after the [Files] header's line; npos: no [Files]
  std::string_view HeaderLineEnd;  // the header's own line end, empty when it ends the text
  std::size_t LineStart = npos;    // the key's line, npos when the section has no such key
  std::size_t LineLength = 0;      // without its line end
  std::string_view Value;          // trimmed

  bool Found() const { return LineStart != npos; }
};

// The first [Files] section's line `key`=..., keys and the header compared without case.
FilesKey FindFilesKey(std::string_view text, std::string_view key) {
  constexpr std::size_t npos = std::string_view::npos;
  FilesKey found;
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
      if (inFiles) break;  // the section ended without the key
      inFiles = EqualsIgnoreCase(Trim(trimmed.substr(1, close - 1)), "Files");
      if (inFiles) {
        found.InsertAt = next;
        found.HeaderLineEnd = text.substr(start + line.size(), next - start - line.size());
      }
    } else if (inFiles && equals != npos &&
               EqualsIgnoreCase(Trim(trimmed.substr(0, equals)), key)) {
      found.LineStart = start;
      found.LineLength = line.size();
      found.Value = Trim(trimmed.substr(equals + 1));
      break;
    }
    start = next;
  }
  return found;
}

// `line` as the first line of the [Files] section; a text without one comes back as it is.
std::string InsertUnderFiles(std::string_view text, const FilesKey& at, std::string_view line) {
  if (at.InsertAt == FilesKey::npos) return std::string(text);
  if (at.HeaderLineEnd.empty()) return std::string(text) + "\r\n" + std::string(line);
  return std::string(text.substr(0, at.InsertAt)) + std::string(line) +
         std::string(at.HeaderLineEnd) + std::string(text.substr(at.InsertAt));
}

// The text with the key's line (not its line end) replaced by `line`.
std::string ReplaceKeyLine(std::string_view text, const FilesKey& at, std::string_view line) {
  return std::string(text.substr(0, at.LineStart)) + std::string(line) +
         std::string(text.substr(at.LineStart + at.LineLength));
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
  const FilesKey serial = FindFilesKey(text, "Serial");
  if (!serial.Found()) return InsertUnderFiles(text, serial, "Serial=1");
  const std::optional<long long> value = ParseSerial(serial.Value);
  if (!value || *value >= 999'999'999'999'999'999) return std::nullopt;
  return ReplaceKeyLine(text, serial, "Serial=" + std::to_string(*value + 1));
}

std::string FilesValue(std::string_view text, std::string_view key) {
  return std::string(FindFilesKey(text, key).Value);
}

std::string SetFilesValue(std::string_view text, std::string_view key, std::string_view value) {
  const FilesKey at = FindFilesKey(text, key);
  const std::string line = std::string(key) + "=" + std::string(value);
  return at.Found() ? ReplaceKeyLine(text, at, line) : InsertUnderFiles(text, at, line);
}

std::string RemoveFilesKey(std::string_view text, std::string_view key) {
  const FilesKey at = FindFilesKey(text, key);
  if (!at.Found()) return std::string(text);
  std::size_t end = at.LineStart + at.LineLength;
  if (text.substr(end).starts_with("\r\n"))
    end += 2;
  else if (text.substr(end).starts_with("\n"))
    end += 1;
  return std::string(text.substr(0, at.LineStart)) + std::string(text.substr(end));
}

std::string NameProduct(std::string_view text, std::string_view product) {
  const FilesKey named = FindFilesKey(text, "Product");
  const std::string line = "Product=" + std::string(product);
  if (!named.Found()) return InsertUnderFiles(text, named, line);
  return named.Value.empty() ? ReplaceKeyLine(text, named, line) : std::string(text);
}

}  // namespace tandor
