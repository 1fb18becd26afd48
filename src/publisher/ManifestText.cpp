#include "publisher/ManifestText.h"

#include <algorithm>

#include "text/TextCase.h"

namespace tandor {

namespace {

const char* const kLineEnd = "\r\n";

bool IsHeader(std::string_view body) {
  const std::string_view trimmed = Trim(body);
  return trimmed.starts_with('[') && trimmed.find(']') != std::string_view::npos;
}

// The name between the brackets of a header line.
std::string_view SectionName(std::string_view body) {
  const std::string_view trimmed = Trim(body);
  return Trim(trimmed.substr(1, trimmed.find(']') - 1));
}

}  // namespace

bool IsDeltaKey(std::string_view key) {
  if (key.size() <= 5 || !EqualsIgnoreCase(key.substr(0, 5), "Delta")) return false;
  return std::all_of(key.begin() + 5, key.end(), [](char c) { return c >= '0' && c <= '9'; });
}

ManifestText::ManifestText(std::string_view text) : mHasNul(text.find('\0') != text.npos) {
  for (std::size_t start = 0;;) {
    const std::size_t newline = text.find('\n', start);
    if (newline == std::string_view::npos) {
      mLines.push_back({std::string(text.substr(start)), ""});
      break;
    }
    std::string_view body = text.substr(start, newline - start);
    const bool crlf = body.ends_with('\r');
    if (crlf) body.remove_suffix(1);
    mLines.push_back({std::string(body), crlf ? "\r\n" : "\n"});
    start = newline + 1;
  }
}

std::optional<std::string> ManifestText::Problem() const {
  if (mHasNul) return "it holds a NUL byte: it is no text";
  bool inSection = false;
  for (std::size_t i = 0; i < mLines.size(); ++i) {
    const std::string_view body = Trim(mLines[i].Body);
    const std::string where = "line " + std::to_string(i + 1) + " ";
    if (body.empty()) continue;
    if (body.starts_with('[')) {
      if (!IsHeader(body)) return where + "opens a section without closing it with ']'";
      if (!inSection && !EqualsIgnoreCase(SectionName(body), "Files"))
        return "its first section is [" + std::string(SectionName(body)) + "], not [Files]";
      inSection = true;
    } else if (body.find('=') == std::string_view::npos) {
      return where + "is neither a [section] nor a key=value line";
    } else if (!inSection) {
      return where + "is a setting before the first section";
    }
  }
  return std::nullopt;
}

std::optional<std::string_view> ManifestText::KeyOf(const Line& line) {
  const std::size_t equals = line.Body.find('=');
  if (equals == std::string::npos || IsHeader(line.Body)) return std::nullopt;
  return Trim(std::string_view(line.Body).substr(0, equals));
}

std::size_t ManifestText::SectionEnd(std::size_t header) const {
  std::size_t end = header + 1;
  while (end < mLines.size() && !IsHeader(mLines[end].Body)) ++end;
  return end;
}

std::optional<std::size_t> ManifestText::SettingsSection() const {
  for (std::size_t i = 0; i < mLines.size(); ++i)
    if (IsHeader(mLines[i].Body)) return i;
  return std::nullopt;
}

std::optional<std::size_t> ManifestText::FindEntry(std::string_view fileName) const {
  bool seenFiles = false;
  for (std::size_t i = 0; i < mLines.size(); ++i) {
    if (!IsHeader(mLines[i].Body)) continue;
    // The first section holds the settings, whatever it is called.
    if (!seenFiles) {
      seenFiles = true;
      continue;
    }
    if (EqualsIgnoreCase(Value(i, "Filename"), fileName)) return i;
  }
  return std::nullopt;
}

std::string ManifestText::Value(std::size_t entry, std::string_view key) const {
  for (std::size_t i = entry + 1, end = SectionEnd(entry); i < end; ++i) {
    const std::optional<std::string_view> lineKey = KeyOf(mLines[i]);
    if (lineKey && EqualsIgnoreCase(*lineKey, key))
      return std::string(
          Trim(std::string_view(mLines[i].Body).substr(mLines[i].Body.find('=') + 1)));
  }
  return {};
}

void ManifestText::SetValue(std::size_t entry, std::string_view key, std::string_view value,
                            std::string_view after) {
  const std::size_t end = SectionEnd(entry);
  std::optional<std::size_t> afterLine;
  for (std::size_t i = entry + 1; i < end; ++i) {
    const std::optional<std::string_view> lineKey = KeyOf(mLines[i]);
    if (lineKey && EqualsIgnoreCase(*lineKey, key)) {
      // The key keeps the spelling it was written with.
      mLines[i].Body = mLines[i].Body.substr(0, mLines[i].Body.find('=') + 1) + std::string(value);
      return;
    }
    if (lineKey && !after.empty() && !afterLine && EqualsIgnoreCase(*lineKey, after)) afterLine = i;
  }
  std::size_t last = end - 1;
  while (last > entry && Trim(mLines[last].Body).empty()) --last;
  if (afterLine) last = *afterLine;
  Line line{std::string(key) + "=" + std::string(value), mLines[last].End};
  if (line.End.empty()) {  // the section's last line ends the text: it gets a line end now
    mLines[last].End = LineEnd();
  }
  mLines.insert(mLines.begin() + static_cast<std::ptrdiff_t>(last + 1), std::move(line));
}

void ManifestText::RemoveKeys(std::size_t entry,
                              const std::function<bool(std::string_view)>& matches) {
  for (std::size_t i = SectionEnd(entry); i > entry + 1; --i) {
    const std::optional<std::string_view> lineKey = KeyOf(mLines[i - 1]);
    if (!lineKey || !matches(*lineKey)) continue;
    // The text's last line hands its missing line end on to the line before it.
    if (i == mLines.size()) mLines[i - 2].End = mLines[i - 1].End;
    mLines.erase(mLines.begin() + static_cast<std::ptrdiff_t>(i - 1));
  }
}

std::size_t ManifestText::Append(std::string_view lines) {
  ManifestText added(lines);
  const std::string end = LineEnd();
  for (Line& line : added.mLines)
    if (!line.End.empty()) line.End = end;
  if (mLines.size() == 1 && mLines.front().Body.empty()) mLines.clear();
  if (!mLines.empty() && mLines.back().End.empty()) {
    if (Trim(mLines.back().Body).empty())
      mLines.pop_back();  // an empty last line is the line the entry goes on
    else
      mLines.back().End = end;
  }
  const std::size_t first = mLines.size();
  mLines.insert(mLines.end(), added.mLines.begin(), added.mLines.end());
  return first;
}

std::string ManifestText::LineEnd() const {
  for (const Line& line : mLines)
    if (!line.End.empty()) return line.End;
  return kLineEnd;
}

std::string ManifestText::Text() const {
  std::string text;
  for (const Line& line : mLines) text += line.Body + line.End;
  return text;
}

}  // namespace tandor
