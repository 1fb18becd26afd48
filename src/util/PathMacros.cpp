#include "util/PathMacros.h"

#include "text/TextCase.h"

namespace tandor {

std::string ReplaceIgnoringCase(const std::string& text, const std::string& name,
                                const std::string& value) {
  if (name.empty() || text.size() < name.size()) return text;
  std::string out;
  out.reserve(text.size());
  std::size_t from = 0;
  for (std::size_t at; (at = FindIgnoreCase(text, name, from)) != std::string::npos;
       from = at + name.size()) {
    out.append(text, from, at - from);
    out += value;
  }
  out.append(text, from);
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
