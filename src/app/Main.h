#pragma once

namespace tandor {

// Program entry: picks the role from the argument text and the executable's name.
int Main(int argc, char** argv);

}  // namespace tandor
