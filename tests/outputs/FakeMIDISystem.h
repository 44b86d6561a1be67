#pragma once

#include "outputs/MIDISystem.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace varnello::test {

// What a FakeMIDISystem was asked and what it answers. Shared with the test,
// so it outlives a system owned by the object under test.
struct FakeMIDIState {
    std::string name;
    struct Packet {
        MIDIEndpointRef endpoint;
        MIDITimeStamp timeStamp;
        std::vector<std::uint8_t> bytes;
        friend bool operator==(const Packet&, const Packet&) = default;
    };

    MIDIStatus createClientStatus = 0;
    MIDIStatus createSourceStatus = 0;
    MIDIStatus propertyStatus = 0;
    MIDIStatus emitStatus = 0;
    MIDITimeStamp hostTime = 0;

    std::vector<std::string> calls;
    std::set<MIDIClientRef> liveClients;
    std::set<MIDIEndpointRef> liveEndpoints;
    std::map<std::string, std::string> properties;
    std::vector<Packet> packets;

    // The client of each endpoint, and the clients the system has let go of
    // with the status that says why: sends through them fail with it.
    std::map<MIDIEndpointRef, MIDIClientRef> endpointClients;
    std::map<MIDIClientRef, MIDIStatus> lostClients;
    // What the object under test asked to be told of a loss.
    MIDISystem::LossHandler lossHandler;

    // The server goes away: every live client is lost, and new ones fail with
    // `openStatus` until the test sets createClientStatus back to 0.
    void loseEveryClient(MIDIStatus status, MIDIStatus openStatus) {
        for (const MIDIClientRef client : liveClients) {
            lostClients[client] = status;
        }
        createClientStatus = openStatus;
    }
};

// A MIDI system that records every call and fails where it is told to.
class FakeMIDISystem final : public MIDISystem {
public:
    explicit FakeMIDISystem(std::shared_ptr<FakeMIDIState> state, MIDIObjectRef firstRef = 100)
        : state_(std::move(state)), nextRef_(firstRef) {}

    MIDIStatus createClient(std::string_view name, MIDIClientRef& client) override {
        state_->calls.push_back("createClient " + std::string(name));
        if (state_->createClientStatus != 0) {
            return state_->createClientStatus;
        }
        client = nextRef_++;
        state_->liveClients.insert(client);
        return 0;
    }

    MIDIStatus createSource(MIDIClientRef client, std::string_view name,
                            MIDIEndpointRef& endpoint) override {
        state_->calls.push_back("createSource " + std::to_string(client) + " " + std::string(name));
        if (state_->createSourceStatus != 0) {
            return state_->createSourceStatus;
        }
        endpoint = nextRef_++;
        state_->liveEndpoints.insert(endpoint);
        state_->endpointClients[endpoint] = client;
        return 0;
    }

    MIDIStatus setStringProperty(MIDIEndpointRef endpoint, MIDIStringProperty property,
                                 std::string_view value) override {
        const std::string name =
            property == MIDIStringProperty::manufacturer ? "manufacturer" : "model";
        state_->calls.push_back("set " + name + " " + std::to_string(endpoint));
        if (state_->propertyStatus == 0) {
            state_->properties[name] = std::string(value);
        }
        return state_->propertyStatus;
    }

    MIDIStatus setIntegerProperty(MIDIEndpointRef endpoint, MIDIIntegerProperty,
                                  std::int32_t value) override {
        state_->calls.push_back("set uniqueID " + std::to_string(endpoint));
        if (state_->propertyStatus == 0) {
            state_->properties["uniqueID"] = std::to_string(value);
        }
        return state_->propertyStatus;
    }

    MIDIStatus emit(MIDIEndpointRef endpoint, MIDITimeStamp timeStamp,
                    std::span<const std::uint8_t> bytes) override {
        state_->calls.push_back("emit " + std::to_string(endpoint));
        if (const auto owner = state_->endpointClients.find(endpoint);
            owner != state_->endpointClients.end()) {
            if (const MIDIStatus loss = clientLoss(owner->second); loss != 0) {
                return loss;
            }
        }
        if (state_->emitStatus != 0) {
            return state_->emitStatus;
        }
        state_->packets.push_back({endpoint, timeStamp, {bytes.begin(), bytes.end()}});
        return 0;
    }

    void disposeEndpoint(MIDIEndpointRef endpoint) noexcept override {
        state_->calls.push_back("disposeEndpoint " + std::to_string(endpoint));
        state_->liveEndpoints.erase(endpoint);
    }

    void disposeClient(MIDIClientRef client) noexcept override {
        state_->calls.push_back("disposeClient " + std::to_string(client));
        state_->liveClients.erase(client);
    }

    MIDITimeStamp currentHostTime() const noexcept override { return state_->hostTime; }
    std::string_view systemName() const noexcept override { return state_->name; }

    MIDIStatus clientLoss(MIDIClientRef client) const noexcept override {
        const auto found = state_->lostClients.find(client);
        return found == state_->lostClients.end() ? 0 : found->second;
    }

    void setLossHandler(LossHandler handler) override { state_->lossHandler = std::move(handler); }

private:
    std::shared_ptr<FakeMIDIState> state_;
    MIDIObjectRef nextRef_;
};

} // namespace varnello::test
