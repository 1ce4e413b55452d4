// Setwise with one file operation made to fail: the first call of the kind
// named by SETWISE_TEST_FAIL_CALL (CreateTemp, Write, Sync, Close, Link,
// Rename, SyncDir, LockFile) in a save. Without images, so that the first
// such call is the save's own. Built for tests only.
#include <cstdlib>

#include "cfgkit/cfgkit.h"
#include "support/faulty_file_ops.h"
#include "tool/driver.h"

int main(int argc, char** argv) {
  static testsupport::FaultyFileOps ops(std::getenv("SETWISE_TEST_FAIL_CALL"));
  static const cfgkit::StoreOptions noImages;
  TalRegUseFileOps(&ops);
  TalRegSetStoreOptions(&noImages);
  return SetwiseMain(argc, argv);
}
