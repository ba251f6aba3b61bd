// mkani: writes the animation script main.ani for the JPEG pictures in the current directory.
#include "app/run.h"

int main(int argc, char** argv) {
  return mkani::run(argc, argv);
}
