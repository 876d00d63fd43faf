#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Accessibility/AssistiveTechnologyStatus.h"

namespace tesvano::platform {

// For tests: a plain value.
class FakeAssistiveTechnologyStatus final : public AssistiveTechnologyStatus {
public:
    std::optional<bool> value = false;
    bool failSet = false;
    int setCalls = 0;
    std::optional<bool> isEnabled() override { return value; }
    bool setEnabled(bool enabled) override {
        ++setCalls;
        if (failSet || !value)
            return false;
        const bool changed = *value != enabled;
        value = enabled;
        if (changed) {
            notify(enabled);
        }
        return true;
    }
    std::string lastError() const override { return failSet ? "refused" : ""; }
    std::expected<Registration, std::string> observe(Runtime&,
                                                     std::function<void(bool)> changed) override {
        auto state = std::make_shared<Registration::State>();
        observers_.push_back({state, std::move(changed)});
        return Registration(state);
    }
    // Another program switched it: the value changes and the observers hear of it.
    void switchElsewhere(bool enabled) {
        value = enabled;
        notify(enabled);
    }

private:
    void notify(bool enabled) {
        auto copy = observers_;
        for (const auto& [state, changed] : copy) {
            if (!state->cancelled) {
                changed(enabled);
            }
        }
    }
    std::vector<std::pair<std::shared_ptr<Registration::State>, std::function<void(bool)>>>
        observers_;
};

}  // namespace tesvano::platform
