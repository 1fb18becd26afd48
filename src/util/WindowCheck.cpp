#include "util/WindowCheck.h"

#include "platform/X11Window.h"

namespace tandor {

bool IsFormWindowOpen(std::string_view caption) {
  if (caption.empty()) return false;
  return IsTopLevelWindowOpen(caption);
}

}  // namespace tandor
