#include "app/Role.h"

#include <cctype>

namespace tandor {

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string ArgumentText(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

Role DecideRole(const std::string& argumentText, const std::string& baseName,
                const std::string& internalName) {
  if (argumentText.empty()) return Role::None;
  if (EqualsIgnoringCase(argumentText, "$Version")) return Role::Publisher;
  if (EqualsIgnoringCase(argumentText, "$NET")) return Role::AddressDisplay;
  if (EqualsIgnoringCase(baseName, internalName)) return Role::Launcher;
  if (EqualsIgnoringCase(baseName, internalName + argumentText)) return Role::WorkingCopy;
  return Role::Damaged;
}

}  // namespace tandor
