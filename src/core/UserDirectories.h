#pragma once

#include <filesystem>

namespace varnello {

// The user's base folders after the XDG Base Directory rules: the variable when it
// holds an absolute path, else the default under the home folder ($HOME, else the
// password database). Empty when no home folder can be found, so that any file
// operation below it fails instead of landing in the working folder. Thread-safe.
std::filesystem::path userDataHome();   // $XDG_DATA_HOME or ~/.local/share
std::filesystem::path userConfigHome(); // $XDG_CONFIG_HOME or ~/.config

// The bridge's own folder name below either of them.
inline constexpr const char* bridgeFolderName = "TessaroBridge";

} // namespace varnello
