#include "util/NormalizeVersion.h"

#include <vector>

#include "text/TextCase.h"

namespace tandor {

namespace {

constexpr std::size_t kPartWidth = 10;

bool IsMdac(std::string_view kind) {
  return EqualsIgnoreCase(kind, "MDAC");
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    auto at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

// Bytes of the first `count` characters of UTF-8 `text` (all of it when it is shorter).
std::size_t PrefixBytes(std::string_view text, std::size_t count) {
  std::size_t at = 0;
  for (; at < text.size() && count > 0; --count) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  }
  return at;
}

// The part followed by ten zeros, cut after its tenth character: short parts are filled on the
// right, so "9" sorts above "10" and "1" equals "10".
std::string Widen(std::string_view part) {
  std::string padded = std::string(part) + std::string(kPartWidth, '0');
  return padded.substr(0, PrefixBytes(padded, kPartWidth));
}

}  // namespace

std::string NormalizeVersion(std::string_view version, std::string_view kind) {
  if (!kind.empty()) {
    if (!IsMdac(kind)) return "";
    std::string digits;
    for (char c : version)
      if (c != '.') digits += c;
    return digits;
  }
  char separator = version.find('.') != std::string_view::npos   ? '.'
                   : version.find(',') != std::string_view::npos ? ','
                                                                 : '\0';
  if (separator == '\0') return std::string(version);
  std::string result;
  for (std::string_view part : Split(version, separator)) result += Widen(part);
  return result;
}

}  // namespace tandor
