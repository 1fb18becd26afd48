#pragma once
// Reading a port number from its text, the one way the program and its publisher read it.

#include <string_view>

namespace tandor {

// A port text read the way a Basic integer conversion reads it: blanks around it, an optional
// sign, a decimal part rounded half to even. Only 1 to 65535 name a port. A text that is no
// number throws RuntimeError 13, a number outside that range RuntimeError 6.
int ParsePort(std::string_view text);

}  // namespace tandor
