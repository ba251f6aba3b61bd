// mkani: writes the animation script main.ani for the JPEG pictures in the current directory.
// Arguments, the environment and standard input change nothing.
#include "app/run.h"

int main() {
  return mkani::run();
}
