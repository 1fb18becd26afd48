#pragma once
// Message boxes of the program. In unattended mode they take their default answer at once and
// print their title and text to standard error.

#include <string>

#include "ui/UpdateWindow.h"

namespace tandor {

MessageAnswer ShowMessageBox(const std::string& title, const std::string& text,
                             MessageIcon icon = MessageIcon::None,
                             MessageButtons buttons = MessageButtons::Ok);

}  // namespace tandor
