#pragma once

#include "core/FallbackKeyStore.h"
#include "core/HostNameSource.h"
#include "core/MachineIDSource.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace varnello::testing {

class FixedMachineID final : public MachineIDSource {
public:
    explicit FixedMachineID(std::optional<std::string> id) : id_(std::move(id)) {}
    std::optional<std::string> machineID() override { return id_; }

private:
    std::optional<std::string> id_;
};

class FixedHostNames final : public HostNameSource {
public:
    FixedHostNames(std::optional<std::string> localized, std::string host)
        : localized_(std::move(localized)), host_(std::move(host)) {}
    std::optional<std::string> localizedName() override { return localized_; }
    std::string hostName() override { return host_; }

private:
    std::optional<std::string> localized_;
    std::string host_;
};

// Answers from scripts, repeating the last answer when a script runs out; records
// what was added. Reaches outcomes a real file cannot be made to give on demand.
class ScriptedKeyStore final : public FallbackKeyStore {
public:
    ScriptedKeyStore(std::deque<FindResult> finds, std::deque<std::int32_t> adds)
        : finds_(std::move(finds)), adds_(std::move(adds)) {}

    FindResult find() override {
        ++findCount;
        return next(finds_);
    }
    std::int32_t add(std::string_view data) override {
        added.emplace_back(data);
        return next(adds_);
    }

    int findCount = 0;
    std::vector<std::string> added;

private:
    template <typename T> static T next(std::deque<T>& script) {
        T answer = script.front();
        if (script.size() > 1) {
            script.pop_front();
        }
        return answer;
    }

    std::deque<FindResult> finds_;
    std::deque<std::int32_t> adds_;
};

} // namespace varnello::testing
