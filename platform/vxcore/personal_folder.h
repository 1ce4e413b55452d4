#pragma once

// The user's personal documents folder, found the way the XDG desktops find it.

#include <string>
#include <string_view>

namespace core {

// The XDG_DOCUMENTS_DIR that `userDirs` (the text of a user-dirs.dirs file) defines, with a
// leading "$HOME" replaced by `home`. The last valid definition wins; lines that are not of
// the form XDG_DOCUMENTS_DIR="$HOME/..." or XDG_DOCUMENTS_DIR="/..." are ignored. False when
// there is none.
bool DocumentsFolderFromUserDirs(std::string_view userDirs, const std::string& home,
                                 std::string& folder);

// $XDG_CONFIG_HOME/user-dirs.dirs (default $HOME/.config/user-dirs.dirs) decides, else
// $HOME/Documents; without HOME the user's home in /etc/passwd stands for it.
// False, with `folder` cleared, when neither names one.
bool FindPersonalFolder(std::string& folder);

}  // namespace core
