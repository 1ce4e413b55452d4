#include "cfgkit/store_lock.h"

#include "fsio/atomic_replace.h"

namespace cfgkit {

Status StoreLock::Acquire(const std::string& dir) {
  Release();
  const std::string path = fsio::JoinPath(dir, kLockFileName);
  // No save may even lock a folder reached through another user's link.
  if (Status status = fsio::CheckLinksOnTheWay(ops_, path); !status.ok()) return status;
  return ops_.LockFile(path, &fd_);
}

void StoreLock::Release() {
  // The lock goes with the descriptor whatever close reports.
  if (fd_ >= 0) ops_.UnlockFile(fd_).IgnoreError();
  fd_ = -1;
}

}  // namespace cfgkit
