// The policy of a store's cache of compiled images (where it lives and how
// long a file's change counts as recent) and of when files are read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cfgkit {

// How a store uses its cache of compiled images, and when it reads files.
struct StoreOptions {
  // The folder of this user's images; empty: no images.
  std::string snapshotDir;
  // An image made within this time of its file's last change, or kept for a
  // file on a file system whose times are coarse or unreliable, is used only
  // once the file's bytes are found to match it.
  int64_t recentChangeNs = 2'000'000'000;
  // Whether a top-level key's file is read only when the key is first looked
  // up by name, so that a run pays for the files it uses. A damaged file is
  // then reported when first used, or never; the root's subkeys are the keys
  // read so far. Otherwise Load reads every file.
  bool readFilesWhenUsed = false;
  // Whether the image of the file of top-level key `topKey` also holds each
  // key's values in name order, for a listing that reads them so. Sorting
  // them costs the run that makes the image, so only the files listed that
  // way should; null: none.
  bool (*keepsNameOrder)(std::string_view topKey) = nullptr;
};

// The options of a process's store: images in $XDG_CACHE_HOME/setwise, by
// default ~/.cache/setwise.
StoreOptions DefaultStoreOptions();

}  // namespace cfgkit
