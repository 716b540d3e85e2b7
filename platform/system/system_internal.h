// What the system facility shares with the rest of the platform library.
#pragma once

#include <string>

namespace winplat {

// The folder this user's Sentrel data lives in: $XDG_DATA_HOME/sentrel when that is an
// absolute path, else ~/.local/share/sentrel; empty when there is no home folder.
std::string UserDataFolder();

} // namespace winplat
