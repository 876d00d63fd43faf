#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Runtime/Runtime.h"
#include "Platform/Updater/Updater.h"

namespace tesvano {

enum class UpdateFailure {
    checkFailed,
    downloadFailed,
    verificationFailed,
    installationFailed,
    unknown
};

// By the error's code range; errors of another domain are `unknown`.
UpdateFailure updateFailure(const platform::UpdaterError& error);

// The result of a check the user started that offered no update.
struct UpdateCheckOutcome {
    bool upToDate = false;
    UpdateFailure failure = UpdateFailure::unknown;  // when not up to date

    static UpdateCheckOutcome isUpToDate() { return {true, UpdateFailure::unknown}; }
    static UpdateCheckOutcome failed(UpdateFailure f) { return {false, f}; }
};

// Where an update stands, with what each step carries.
struct UpdatePhase {
    enum class Kind {
        found,
        downloading,
        extracting,
        error,
        idle,
        checking,
        upToDate,
        readyToInstall,
        installing
    };
    Kind kind = Kind::idle;
    std::string version;                             // found
    double fraction = 0;                             // downloading, extracting
    UpdateFailure failure = UpdateFailure::unknown;  // error

    static UpdatePhase found(std::string v) { return {Kind::found, std::move(v), 0, {}}; }
    static UpdatePhase downloading(double f) { return {Kind::downloading, {}, f, {}}; }
    static UpdatePhase extracting(double f) { return {Kind::extracting, {}, f, {}}; }
    static UpdatePhase error(UpdateFailure f) { return {Kind::error, {}, 0, f}; }
    static UpdatePhase of(Kind k) { return {k, {}, 0, {}}; }

    // Same case with equal payloads; a NaN fraction never equals anything.
    bool operator==(const UpdatePhase& other) const;
};

// The observable state of one update as the user sees it, and the reply the updater waits
// for, kept as three one-shot callbacks. Observers hear of a value only when it changes.
class UpdateViewModel {
public:
    using Phase = UpdatePhase;

    const Phase& phase() const { return phase_; }
    const std::string& availableVersion() const { return availableVersion_; }
    const std::optional<platform::WallTime>& publishedDate() const { return publishedDate_; }
    std::uint64_t downloadedBytes() const { return downloadedBytes_; }
    std::uint64_t expectedBytes() const { return expectedBytes_; }
    double downloadSpeed() const { return downloadSpeed_; }
    bool isBetaChannel() const { return isBetaChannel_; }
    const std::string& releaseNotesMarkdown() const { return releaseNotesMarkdown_; }

    void setPhase(const Phase& phase);
    void setAvailableVersion(const std::string& version);
    void setPublishedDate(const std::optional<platform::WallTime>& date);
    void setDownloadedBytes(std::uint64_t bytes);
    void setExpectedBytes(std::uint64_t bytes);
    void setDownloadSpeed(double bytesPerSecond);
    void setIsBetaChannel(bool beta);
    void setReleaseNotesMarkdown(const std::string& markdown);

    // The replies; whichever comes first answers the updater, the others no longer fire.
    std::function<void()> installAction;
    std::function<void()> skipAction;
    std::function<void()> dismissAction;
    void install();
    void skip();
    void dismiss();
    // Back to the initial values; no reply is called.
    void reset();

    // Called after every change that observers hear of; the registration ends it.
    [[nodiscard]] platform::Registration observe(std::function<void()> onChange);

private:
    template <typename T>
    void assign(T& field, const T& value) {
        if (field == value) {
            return;
        }
        field = value;
        notify();
    }
    void notify();
    void answer(std::function<void()> UpdateViewModel::*which);

    Phase phase_;
    std::string availableVersion_;
    std::optional<platform::WallTime> publishedDate_;
    std::uint64_t downloadedBytes_ = 0;
    std::uint64_t expectedBytes_ = 0;
    double downloadSpeed_ = 0;
    bool isBetaChannel_ = false;
    std::string releaseNotesMarkdown_;
    struct Observer {
        std::shared_ptr<platform::Registration::State> state;
        std::function<void()> action;
    };
    std::vector<Observer> observers_;
};

}  // namespace tesvano
