#pragma once
// Message boxes of the program. In unattended mode they take their default answer at once and
// print their title and text to standard error.

#include <string>

namespace tandor {

enum class MessageIcon { None, Information, Exclamation, Critical, Question };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No };

MessageAnswer ShowMessageBox(const std::string& title, const std::string& text,
                             MessageIcon icon = MessageIcon::None,
                             MessageButtons buttons = MessageButtons::Ok);

}  // namespace tandor
