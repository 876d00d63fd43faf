#include "TesvanoKit/History/ActivationLogRows.h"

#include <algorithm>

#include "TesvanoKit/Languages/Localization.h"
#include "TesvanoKit/Languages/TextKey.h"

namespace tesvano {

namespace {

constexpr std::string_view kNone = "\u2014";

}  // namespace

namespace ActivationLogText {

std::string_view reasonKey(std::string_view reasonRaw) {
    const auto reason = enumFromRawValue<ActivationReason>(reasonRaw);
    if (!reason) {
        return reasonRaw;
    }
    switch (*reason) {
        case ActivationReason::revertedSwitch:
            return N_("Reverted switch");
        case ActivationReason::appActivated:
            return N_("App activated");
        case ActivationReason::launcherFocused:
            return N_("Launcher opened");
        case ActivationReason::launcherDismissed:
            return N_("Launcher closed");
        case ActivationReason::urlPolled:
            return N_("URL re-checked");
        case ActivationReason::urlMatched:
            return N_("URL matched");
        case ActivationReason::addressBarFocused:
            return N_("Address bar focused");
        case ActivationReason::addressBarBlurred:
            return N_("Address bar blurred");
        case ActivationReason::lockEngaged:
            return N_("Lock engaged");
        case ActivationReason::configChanged:
            return N_("Settings changed");
        case ActivationReason::startupApplied:
            return N_("Lock restored");
        case ActivationReason::apiCommand:
            return N_("URL command");
        case ActivationReason::conflictPaused:
            return N_("Conflict detected");
    }
    return reasonRaw;
}

std::optional<Detail> detail(const ActivationLogEntry& entry) {
    if (entry.reason() == ActivationReason::urlMatched && entry.matchedHost) {
        return Detail{*entry.matchedHost, false};
    }
    const auto source = entry.ruleSource();
    if (!source) {
        return std::nullopt;
    }
    switch (*source) {
        case RuleSource::appRule:
            return Detail{N_("App rule"), true};
        case RuleSource::globalDefault:
            return Detail{N_("Default rule"), true};
        case RuleSource::urlRule:
            return Detail{N_("URL rule"), true};
        case RuleSource::addressBarRule:
            return Detail{N_("Address-bar rule"), true};
    }
    return std::nullopt;
}

std::string sourceText(const ActivationLogEntry& entry) {
    if (entry.fromSourceName && *entry.fromSourceName != entry.inputSourceName) {
        return *entry.fromSourceName + " \u2192 " + entry.inputSourceName;
    }
    return entry.inputSourceName;
}

std::string appText(const ActivationLogEntry& entry) {
    if (entry.triggeringAppName) {
        return *entry.triggeringAppName;
    }
    if (entry.triggeringAppId) {
        return *entry.triggeringAppId;
    }
    return std::string(kNone);
}

}  // namespace ActivationLogText

ActivationLogRows::ActivationLogRows(SupportedLanguage language,
                                     std::optional<std::string_view> timeZone)
    : language_(language), format_(rawValue(language), timeZone) {}

std::string ActivationLogRows::durationText(double milliseconds) const {
    return format_.oneDecimal(milliseconds) + " ms";
}

ActivationLogRow ActivationLogRows::makeRow(const ActivationLogEntry& entry) const {
    ActivationLogRow row;
    row.id = entry.id;
    row.timestamp = entry.timestamp;
    row.time = format_.timeOfDay(entry.timestamp);
    row.source = ActivationLogText::sourceText(entry);
    row.app = ActivationLogText::appText(entry);
    row.reason = Localization::text(ActivationLogText::reasonKey(entry.reasonRaw), language_);
    if (auto detail = ActivationLogText::detail(entry)) {
        row.detail = detail->isKey ? Localization::text(detail->text, language_) : detail->text;
    }
    row.duration = durationText(entry.durationMs);
    return row;
}

void ActivationLogRows::reset(std::span<const ActivationLogEntry> entries, platform::WallTime now) {
    cutoff_ = now - platform::Seconds(window);
    rows_.clear();
    rows_.reserve(entries.size());
    for (const auto& entry : entries) {
        if (isInWindow(entry.timestamp)) {
            rows_.push_back(makeRow(entry));
        }
    }
    std::stable_sort(rows_.begin(), rows_.end(),
                     [](const ActivationLogRow& a, const ActivationLogRow& b) {
                         return a.timestamp > b.timestamp;
                     });
}

std::optional<std::size_t> ActivationLogRows::position(platform::WallTime timestamp) const {
    if (!isInWindow(timestamp)) {
        return std::nullopt;
    }
    const auto at = std::lower_bound(
        rows_.begin(), rows_.end(), timestamp,
        [](const ActivationLogRow& row, platform::WallTime t) { return row.timestamp > t; });
    return static_cast<std::size_t>(at - rows_.begin());
}

std::optional<std::size_t> ActivationLogRows::insert(const ActivationLogEntry& entry) {
    const auto index = position(entry.timestamp);
    if (index) {
        rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(*index), makeRow(entry));
    }
    return index;
}

}  // namespace tesvano
