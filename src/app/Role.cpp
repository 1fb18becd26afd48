#include "app/Role.h"

#include "text/TextCase.h"

namespace tandor {

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
  if (EqualsIgnoreCase(argumentText, "$Version")) return Role::Publisher;
  if (EqualsIgnoreCase(argumentText, "$NET")) return Role::AddressDisplay;
  if (EqualsIgnoreCase(baseName, internalName)) return Role::Launcher;
  if (EqualsIgnoreCase(baseName, internalName + argumentText)) return Role::WorkingCopy;
  return Role::Damaged;
}

}  // namespace tandor
