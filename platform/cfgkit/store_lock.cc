#include "cfgkit/store_lock.h"

#include "fsio/atomic_replace.h"

namespace cfgkit {

Status StoreLock::Acquire(const std::string& dir) {
  Release();
  return ops_.LockFile(fsio::JoinPath(dir, kLockFileName), &fd_);
}

void StoreLock::Release() {
  // The lock goes with the descriptor whatever close reports.
  if (fd_ >= 0) ops_.UnlockFile(fd_).IgnoreError();
  fd_ = -1;
}

}  // namespace cfgkit
