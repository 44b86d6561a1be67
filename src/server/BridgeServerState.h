#pragma once

#include <cstdint>
#include <string>

namespace varnello {

// What the iPad listener of the bridge server is doing, as shown to users. A
// plain value; equal when the case and its payload are equal. Thread-safe.
class BridgeServerState {
public:
    enum class Case { ready, waiting, failed, stopped, starting };

    static BridgeServerState ready(std::uint16_t port) noexcept;
    // text: the network error's description.
    static BridgeServerState waiting(std::string text);
    static BridgeServerState failed(std::string text);
    static BridgeServerState stopped() noexcept;
    static BridgeServerState starting() noexcept;

    Case kind() const noexcept { return case_; }
    // The iPad listener's port with ready; 0 otherwise.
    std::uint16_t port() const noexcept { return port_; }
    // The error's description with waiting and failed; empty otherwise.
    const std::string& text() const noexcept { return text_; }

    // The text shown in the menu and written to the log.
    std::string statusText() const;

    friend bool operator==(const BridgeServerState&, const BridgeServerState&) = default;

private:
    BridgeServerState(Case kind, std::uint16_t port, std::string text)
        : case_(kind), port_(port), text_(std::move(text)) {}

    Case case_;
    std::uint16_t port_;
    std::string text_;
};

} // namespace varnello
