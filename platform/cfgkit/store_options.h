// The policy of a store's cache of compiled images: where it lives and how
// long a file's change counts as recent.
#pragma once

#include <cstdint>
#include <string>

namespace cfgkit {

// How a store uses its cache of compiled images.
struct StoreOptions {
  // The folder of this user's images; empty: no images.
  std::string snapshotDir;
  // An image made within this time of its file's last change, or kept for a
  // file on a file system whose times are coarse or unreliable, is used only
  // once the file's bytes are found to match it.
  int64_t recentChangeNs = 2'000'000'000;
};

// The options of a process's store: images in $XDG_CACHE_HOME/setwise, by
// default ~/.cache/setwise.
StoreOptions DefaultStoreOptions();

}  // namespace cfgkit
