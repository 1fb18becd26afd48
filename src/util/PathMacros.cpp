#include "util/PathMacros.h"

#include <cctype>

namespace tandor {

namespace {

bool SameLetter(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

}  // namespace

std::string ReplaceIgnoringCase(const std::string& text, const std::string& name,
                                const std::string& value) {
  if (name.empty() || text.size() < name.size()) return text;
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    bool match = i + name.size() <= text.size();
    for (std::size_t j = 0; match && j < name.size(); ++j) match = SameLetter(text[i + j], name[j]);
    if (match) {
      out += value;
      i += name.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string ExpandPathMacros(const std::string& text, const ClientSettings& settings,
                             const std::string& appFolder) {
  if (text.find('$') == std::string::npos) return text;
  std::string out = ReplaceIgnoringCase(text, "$(AppPath)", appFolder);
  out = ReplaceIgnoringCase(out, "$(SystemDrive)", settings.SystemDrive);
  out = ReplaceIgnoringCase(out, "$(WinPath)", settings.WinPath);
  out = ReplaceIgnoringCase(out, "$(WinSysPath)", settings.WinSysPath);
  out = ReplaceIgnoringCase(out, "$(ProgramFiles)", settings.ProgramFiles);
  out = ReplaceIgnoringCase(out, "$(CommonFiles)", settings.CommonFiles);
  out = ReplaceIgnoringCase(out, "$(CommonFilesSys)", settings.CommonFilesSys);
  return out;
}

}  // namespace tandor
