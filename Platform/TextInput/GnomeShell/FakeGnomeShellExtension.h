#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "Platform/TextInput/GnomeShell/GnomeShellExtension.h"

namespace tesvano::platform {

// For tests: a plain value, and a record of the requests.
class FakeGnomeShellExtension final : public GnomeShellExtension {
public:
    GnomeShellExtensionFacts value;
    std::optional<std::string> installFailure;
    int installCalls = 0;
    std::function<void()> changed;
    GnomeShellExtensionFacts facts() override { return value; }
    std::shared_ptr<void> watch(std::function<void()> callback) override {
        changed = std::move(callback);
        return std::make_shared<int>(0);
    }
    std::expected<void, std::string> installAndEnable() override {
        ++installCalls;
        if (installFailure) {
            return std::unexpected(*installFailure);
        }
        value.filesInstalled = true;
        value.listedAsEnabled = true;
        return {};
    }
};

}  // namespace tesvano::platform
