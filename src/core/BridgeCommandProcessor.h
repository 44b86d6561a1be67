#pragma once

#include "core/BridgePreferences.h"
#include "ledger/CommandLedger.h"
#include "ledger/LedgerFill.h"
#include "outputs/OSCForwarder.h"
#include "outputs/VirtualMIDISource.h"
#include "protocol/TessaroBridgeAcknowledgement.h"
#include "protocol/TessaroBridgeCommand.h"

#include <atomic>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace varnello {

// Carries commands from the network to their outputs and back to
// acknowledgements, executing each identifier at most once through the ledger.
// Commands that wait together are reserved with one save, executed one after
// another in their order, and recorded with one save, so a stage full of iPads
// waits for the disk once per batch instead of once per command. Owns the
// outputs and the ledger. Calls are serialised by the caller: after
// construction (main thread) only the server queue calls it, so nothing here
// needs a lock, except the ledger's fill, which any thread may read.
class BridgeCommandProcessor {
public:
    static constexpr std::string_view uncertainDetail =
        "This command was already received; the earlier execution is uncertain.";
    static constexpr std::string_view duplicateDetail = "This command has already been performed.";
    static constexpr std::string_view failedBeforeDetail =
        "This command failed previously and will not be retried.";
    static constexpr std::string_view unavailableDetail = "The Bridge is no longer available.";
    // Every detail on the wire is cut to this many characters.
    static constexpr std::size_t maximumDetailCharacters = 255;

    BridgeCommandProcessor(std::shared_ptr<BridgePreferences> preferences,
                           std::unique_ptr<OSCForwarder> oscForwarder,
                           std::unique_ptr<VirtualMIDISource> midiSource,
                           std::unique_ptr<CommandLedger> ledger);

    BridgeCommandProcessor(const BridgeCommandProcessor&) = delete;
    BridgeCommandProcessor& operator=(const BridgeCommandProcessor&) = delete;

    // Every failure becomes a rejected acknowledgement; nothing escapes.
    TessaroBridgeAcknowledgement handle(const TessaroBridgeCommand& command) noexcept;

    // One acknowledgement per command, in their order; each as handle would have
    // answered it had the commands come one after another.
    std::vector<TessaroBridgeAcknowledgement>
    handleAll(std::span<const TessaroBridgeCommand> commands) noexcept;

    // For reopening a lost MIDI output on the server queue.
    VirtualMIDISource& midiSource() noexcept { return *midiSource_; }

    // How full the ledger's tombstone filter is now. Any thread.
    LedgerFill ledgerFill() const noexcept;

    // Called on the server queue, after a batch, whenever the fill's whole percent
    // changed. Set before the first command.
    std::function<void()> onLedgerFillChange;

    // The answer once the bridge that would execute the command is gone.
    static TessaroBridgeAcknowledgement unavailable(const Uuid& commandID) noexcept;

    // A rejection whose detail is cut to maximumDetailCharacters.
    static TessaroBridgeAcknowledgement rejected(const Uuid& commandID,
                                                 std::string_view detail) noexcept;

private:
    // The commands at `positions`: distinct identifiers, at most the ledger's
    // window. Their answers go to the same positions.
    void handleDistinct(std::span<const TessaroBridgeCommand> commands,
                        std::span<const std::size_t> positions,
                        std::vector<TessaroBridgeAcknowledgement>& answers);
    void execute(const TessaroBridgePayload& payload);
    static TessaroBridgeAcknowledgement answerForKnown(const Uuid& commandID,
                                                       CommandLedgerState earlier);

    std::shared_ptr<BridgePreferences> preferences_;
    std::unique_ptr<OSCForwarder> oscForwarder_;
    std::unique_ptr<VirtualMIDISource> midiSource_;
    std::unique_ptr<CommandLedger> ledger_;
    std::int64_t maximumInsertions_;
    std::atomic<std::int64_t> insertionCount_;
};

} // namespace varnello
