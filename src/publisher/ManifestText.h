#pragma once
// A manifest's text in lines, for the changes a publish from the command line makes to its
// entries. Whatever is not changed stays exactly as it was, line ends included.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tandor {

class ManifestText {
 public:
  explicit ManifestText(std::string_view text);

  // Why the text cannot be changed safely: a NUL byte, a line that is neither a [section], a
  // key=value line nor blank, a setting before the first section, or a first section other than
  // [Files] (renumbering would make that entry the settings). Nothing for an empty text.
  std::optional<std::string> Problem() const;

  // The header line of the first section, which holds the settings.
  std::optional<std::size_t> SettingsSection() const;
  // The entry whose Filename is `fileName` (letter case aside): the index of its header line.
  std::optional<std::size_t> FindEntry(std::string_view fileName) const;
  // The trimmed value of the entry's first `key` line; empty when it has none.
  std::string Value(std::size_t entry, std::string_view key) const;
  // Gives the entry's first `key` line `value`; an entry without one gets the line right after
  // its first `after` line when it has one, else after its last line that is not blank. New
  // lines end as the text's lines do.
  void SetValue(std::size_t entry, std::string_view key, std::string_view value,
                std::string_view after = {});
  // Removes the entry's lines whose key `matches`.
  void RemoveKeys(std::size_t entry, const std::function<bool(std::string_view)>& matches);
  // Adds `lines` (joined by CR LF, no line end after the last) after the last line, on a line of
  // its own. Returns the index of its first line.
  std::size_t Append(std::string_view lines);

  std::string Text() const;

 private:
  struct Line {
    std::string Body;
    std::string End;  // "\r\n", "\n", or "" for the last line
  };
  // The line end the text uses (that of its first line), CR LF for a single line.
  std::string LineEnd() const;
  // One past the last line of the section whose header is at `header`.
  std::size_t SectionEnd(std::size_t header) const;
  // The line's key, trimmed; nothing for a line without "=".
  static std::optional<std::string_view> KeyOf(const Line& line);

  std::vector<Line> mLines;
  bool mHasNul = false;
};

// "Delta" followed by a number, in any letter case: a line of a patch to the entry's file.
bool IsDeltaKey(std::string_view key);

}  // namespace tandor
