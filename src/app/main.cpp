#include "app/Main.h"

int main(int argc, char** argv) {
  return tandor::Main(argc, argv);
}
