// Setwise: reads, lists, changes and deletes the settings of an installed
// product in its layered configuration registry.
#include "tool/driver.h"

int main(int argc, char** argv) { return SetwiseMain(argc, argv); }
