// The store reaches the disk only through the platform's file seam, and
// reports with its Status.
#pragma once

#include "fsio/file_ops.h"
#include "fsio/status.h"

namespace cfgkit {

using fsio::FileIdentity;
using fsio::FileOps;
using fsio::FileOpsWrapper;
using fsio::PosixFileOps;
using fsio::Status;

}  // namespace cfgkit
