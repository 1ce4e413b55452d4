#pragma once

// Replaces a file's content so that a crash leaves either the old content or the new, never a
// mix: the bytes go to a temporary file (".<name>.XXXXXX") in the same folder, which is synced,
// closed and renamed over the target, and then the folder is synced so that the rename itself
// is durable. The temporary file is removed on any failure. Assumes a POSIX file system on
// which rename within one folder is atomic.

#include <string>
#include <string_view>

namespace core {

// Returns false, with errno set, when any step fails; the target is then unchanged. The folder
// must exist. A new file gets mode 0644; an existing one keeps its mode.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace core
