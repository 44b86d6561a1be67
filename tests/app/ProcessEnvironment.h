#pragma once

#include <map>
#include <string>
#include <vector>

namespace varnello::testing {

// This process's environment with `unset` removed and `set` added or replaced, as
// NAME=value texts for a child process.
std::vector<std::string> environmentWith(const std::map<std::string, std::string>& set,
                                         const std::vector<std::string>& unset);

// The texts as posix_spawn takes them, closed by a null pointer; valid as long as
// the texts are.
std::vector<char*> spawnPointers(std::vector<std::string>& texts);

} // namespace varnello::testing
