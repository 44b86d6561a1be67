#include "ProcessEnvironment.h"

extern char** environ;

namespace varnello::testing {

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& set,
                                         const std::vector<std::string>& unset) {
    std::map<std::string, std::string> values;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        if (const auto equals = text.find('='); equals != std::string::npos) {
            values[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const std::string& name : unset) {
        values.erase(name);
    }
    for (const auto& [name, value] : set) {
        values[name] = value;
    }
    std::vector<std::string> entries;
    for (const auto& [name, value] : values) {
        entries.push_back(name + "=" + value);
    }
    return entries;
}

std::vector<char*> spawnPointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace varnello::testing
