#pragma once

#include <string>

namespace varnello {

// Shows a short message on the desktop, outside the program's own windows. Never
// blocks and never fails to its caller: a desktop that cannot show it simply does
// not. Main thread only.
class DesktopNotifier {
public:
    virtual ~DesktopNotifier() = default;

    virtual void notify(const std::string& summary, const std::string& body) = 0;
};

} // namespace varnello
