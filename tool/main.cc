// Setwise: reads, lists, changes and deletes the settings of an installed
// product in its layered configuration registry.
#include <new>

#include "tool/driver.h"

int main(int argc, char** argv) {
  // Memory running out (a tight `ulimit -v`) ends the run with a status, not
  // with a message on standard error.
  try {
    return SetwiseMain(argc, argv);
  } catch (const std::bad_alloc&) {
    return OutOfMemoryStatus();
  }
}
