#include "platform/CommandLine.h"
#include "text/TextCase.h"

#include <system_error>

#include "platform/Prefix.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsExistingFile(const fs::path& path) {
  std::error_code ec;
  fs::file_status status = fs::status(path, ec);
  return !ec && fs::exists(status) && !fs::is_directory(status);
}

struct ProgramSplit {
  std::string Program;
  std::string_view Rest;
};

ProgramSplit SplitQuotedProgram(std::string_view text) {
  std::size_t close = text.find('"', 1);
  if (close == std::string_view::npos) return {std::string(text.substr(1)), {}};
  return {std::string(text.substr(1, close - 1)), text.substr(close + 1)};
}

ProgramSplit SplitUnquotedProgram(const Prefix& prefix, std::string_view text) {
  std::size_t firstEnd = std::string_view::npos;
  for (std::size_t end = 0; end <= text.size(); ++end) {
    if (end < text.size() && !IsBlank(text[end])) continue;
    if (firstEnd == std::string_view::npos) firstEnd = end;
    std::string_view candidate = text.substr(0, end);
    if (IsExistingFile(prefix.ToNative(candidate)))
      return {std::string(candidate), text.substr(end)};
  }
  if (firstEnd == std::string_view::npos) firstEnd = text.size();
  return {std::string(text.substr(0, firstEnd)), text.substr(firstEnd)};
}

}  // namespace

ParsedCommandLine ParseCommandLine(const Prefix& prefix, std::string_view commandLine) {
  std::string_view text = TrimStart(commandLine);
  ProgramSplit split = (!text.empty() && text.front() == '"') ? SplitQuotedProgram(text)
                                                              : SplitUnquotedProgram(prefix, text);
  ParsedCommandLine parsed;
  parsed.Program = std::move(split.Program);
  parsed.NativeProgram = prefix.ToNative(parsed.Program);
  parsed.Arguments = SplitArguments(split.Rest);
  return parsed;
}

std::vector<std::string> SplitArguments(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (IsBlank(c) && !quoted) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
      ++i;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      std::size_t count = 0;
      while (i < text.size() && text[i] == '\\') ++count, ++i;
      if (i < text.size() && text[i] == '"') {
        word.append(count / 2, '\\');
        if (count % 2 == 1) {
          word += '"';
          ++i;
        }
        // An even count leaves the quote to the next round, where it groups.
      } else {
        word.append(count, '\\');
      }
      continue;
    }
    if (c == '"') {
      if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
        word += '"';
        i += 2;
        continue;
      }
      quoted = !quoted;
      ++i;
      continue;
    }
    word += c;
    ++i;
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

}  // namespace tandor
