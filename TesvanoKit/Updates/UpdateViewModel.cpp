#include "TesvanoKit/Updates/UpdateViewModel.h"

#include <cmath>

namespace tesvano {

UpdateFailure updateFailure(const platform::UpdaterError& error) {
    if (error.domain != platform::UpdaterError::updaterDomain) {
        return UpdateFailure::unknown;
    }
    if (error.code < 2000) {
        return UpdateFailure::checkFailed;
    }
    if (error.code < 3000) {
        return UpdateFailure::downloadFailed;
    }
    if (error.code < 4000) {
        return UpdateFailure::verificationFailed;
    }
    if (error.code < 5000) {
        return UpdateFailure::installationFailed;
    }
    return UpdateFailure::unknown;
}

bool UpdatePhase::operator==(const UpdatePhase& other) const {
    if (kind != other.kind) {
        return false;
    }
    switch (kind) {
        case Kind::found:
            return version == other.version;
        case Kind::downloading:
        case Kind::extracting:
            return fraction == other.fraction;  // NaN is unequal to itself
        case Kind::error:
            return failure == other.failure;
        default:
            return true;
    }
}

void UpdateViewModel::setPhase(const Phase& phase) {
    assign(phase_, phase);
}
void UpdateViewModel::setAvailableVersion(const std::string& version) {
    assign(availableVersion_, version);
}
void UpdateViewModel::setPublishedDate(const std::optional<platform::WallTime>& date) {
    assign(publishedDate_, date);
}
void UpdateViewModel::setDownloadedBytes(std::uint64_t bytes) {
    assign(downloadedBytes_, bytes);
}
void UpdateViewModel::setExpectedBytes(std::uint64_t bytes) {
    assign(expectedBytes_, bytes);
}
void UpdateViewModel::setDownloadSpeed(double bytesPerSecond) {
    if (std::isnan(bytesPerSecond) || std::isnan(downloadSpeed_) ||
        bytesPerSecond != downloadSpeed_) {
        downloadSpeed_ = bytesPerSecond;
        notify();
    }
}
void UpdateViewModel::setIsBetaChannel(bool beta) {
    assign(isBetaChannel_, beta);
}
void UpdateViewModel::setReleaseNotesMarkdown(const std::string& markdown) {
    assign(releaseNotesMarkdown_, markdown);
}

void UpdateViewModel::answer(std::function<void()> UpdateViewModel::*which) {
    std::function<void()> reply = std::move(this->*which);
    installAction = nullptr;
    skipAction = nullptr;
    dismissAction = nullptr;
    if (reply) {
        reply();
    }
}

void UpdateViewModel::install() {
    answer(&UpdateViewModel::installAction);
}
void UpdateViewModel::skip() {
    answer(&UpdateViewModel::skipAction);
}
void UpdateViewModel::dismiss() {
    answer(&UpdateViewModel::dismissAction);
}

void UpdateViewModel::reset() {
    setPhase(Phase::of(Phase::Kind::idle));
    setAvailableVersion("");
    setPublishedDate(std::nullopt);
    setDownloadedBytes(0);
    setExpectedBytes(0);
    setDownloadSpeed(0);
    setIsBetaChannel(false);
    setReleaseNotesMarkdown("");
    installAction = nullptr;
    skipAction = nullptr;
    dismissAction = nullptr;
}

platform::Registration UpdateViewModel::observe(std::function<void()> onChange) {
    auto state = std::make_shared<platform::Registration::State>();
    observers_.push_back({state, std::move(onChange)});
    return platform::Registration(state);
}

void UpdateViewModel::notify() {
    std::erase_if(observers_, [](const Observer& o) { return o.state->cancelled; });
    const auto observers = observers_;
    for (const auto& o : observers) {
        if (!o.state->cancelled) {
            o.action();
        }
    }
}

}  // namespace tesvano
