// Setwise with one file operation made to fail: the first call of the kind
// named by SETWISE_TEST_FAIL_CALL (CreateTemp, Write, Sync, Close, Link,
// Rename, SyncDir, LockFile) reports an I/O error. Built for tests only.
#include <cstdlib>
#include <string>

#include "cfgkit/cfgkit.h"
#include "tool/driver.h"

namespace {

class FailFirstCall : public cfgkit::FileOpsWrapper {
 public:
  explicit FailFirstCall(const char* call)
      : FileOpsWrapper(cfgkit::PosixFileOps()), call_(call == nullptr ? "" : call) {}

  using Status = cfgkit::Status;
  Status CreateTemp(const std::string& path, int* fd) override {
    return Fails("CreateTemp") ? Error() : FileOpsWrapper::CreateTemp(path, fd);
  }
  Status Write(int fd, std::string_view data) override {
    return Fails("Write") ? Error() : FileOpsWrapper::Write(fd, data);
  }
  Status Sync(int fd) override { return Fails("Sync") ? Error() : FileOpsWrapper::Sync(fd); }
  Status Close(int fd) override {
    Status closed = FileOpsWrapper::Close(fd);
    return Fails("Close") ? Error() : closed;
  }
  Status Link(const std::string& from, const std::string& to) override {
    return Fails("Link") ? Error() : FileOpsWrapper::Link(from, to);
  }
  Status Rename(const std::string& from, const std::string& to) override {
    return Fails("Rename") ? Error() : FileOpsWrapper::Rename(from, to);
  }
  Status SyncDir(const std::string& dir) override {
    return Fails("SyncDir") ? Error() : FileOpsWrapper::SyncDir(dir);
  }
  Status LockFile(const std::string& path, int* fd) override {
    return Fails("LockFile") ? Status::Busy(path) : FileOpsWrapper::LockFile(path, fd);
  }

 private:
  bool Fails(const char* call) {
    if (failed_ || call_ != call) return false;
    failed_ = true;
    return true;
  }
  static Status Error() { return Status::IOError("injected: No space left on device"); }

  std::string call_;
  bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  static FailFirstCall ops(std::getenv("SETWISE_TEST_FAIL_CALL"));
  TalRegUseFileOps(&ops);
  return SetwiseMain(argc, argv);
}
