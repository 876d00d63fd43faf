#include "TesvanoKit/Monitors/ProcessIdentity.h"

namespace tesvano::ProcessIdentity {

std::optional<std::string> identifier(const RunningApplication& application) {
    // An empty identifier would be a key that every unnamed application shares.
    if (application.appId && !application.appId->empty()) {
        return application.appId;
    }
    return executableIdentifier(application);
}

std::optional<std::string> processIdentifier(std::optional<std::string_view> executablePath) {
    if (!executablePath) {
        return std::nullopt;
    }
    const auto slash = executablePath->rfind('/');
    const auto name =
        slash == std::string_view::npos ? *executablePath : executablePath->substr(slash + 1);
    return identifierForExecutableName(name);
}

std::optional<std::string> executableIdentifier(const RunningApplication& application) {
    if (!application.executablePath) {
        return std::nullopt;
    }
    return processIdentifier(*application.executablePath);
}

std::optional<std::string> identifierForExecutableName(std::string_view name) {
    if (name.empty()) {
        return std::nullopt;
    }
    std::string key(prefix);
    key += name;
    return key;
}

bool isProcessIdentifier(std::string_view key) {
    return key.size() > prefix.size() && key.starts_with(prefix);
}

std::optional<std::string> processName(std::string_view key) {
    if (!isProcessIdentifier(key)) {
        return std::nullopt;
    }
    return std::string(key.substr(prefix.size()));
}

}  // namespace tesvano::ProcessIdentity
