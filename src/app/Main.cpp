#include "app/Main.h"

#include <cstdio>

namespace tandor {

int Main(int argc, char** argv) {
  (void)argv;
  if (argc <= 1) return 0;
  std::fprintf(stderr, "Tandor: this role is not built yet\n");
  return 1;
}

}  // namespace tandor
