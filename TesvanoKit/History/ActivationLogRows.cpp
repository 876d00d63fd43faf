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

std::vector<std::string_view> reasonKeys() {
    std::vector<std::string_view> keys;
    for (auto reason : allCases<ActivationReason>()) {
        keys.push_back(reasonKey(rawValue(reason)));
    }
    return keys;
}

std::string_view ruleSourceKey(RuleSource source) {
    switch (source) {
        case RuleSource::appRule:
            return N_("App rule");
        case RuleSource::globalDefault:
            return N_("Default rule");
        case RuleSource::urlRule:
            return N_("URL rule");
        case RuleSource::addressBarRule:
            return N_("Address-bar rule");
    }
    return {};
}

std::vector<std::string_view> detailKeys() {
    std::vector<std::string_view> keys;
    for (auto source : allCases<RuleSource>()) {
        keys.push_back(ruleSourceKey(source));
    }
    return keys;
}

std::optional<Detail> detail(const ActivationLogEntry& entry) {
    if (entry.reason() == ActivationReason::urlMatched && entry.matchedHost) {
        return Detail{*entry.matchedHost, false};
    }
    const auto source = entry.ruleSource();
    if (!source) {
        return std::nullopt;
    }
    return Detail{std::string(ruleSourceKey(*source)), true};
}

std::string sourceText(const ActivationLogEntry& entry, const SourceNames& names) {
    const auto shown = [&](const std::string& name) { return names ? names(name) : name; };
    if (entry.fromSourceName && *entry.fromSourceName != entry.inputSourceName) {
        return shown(*entry.fromSourceName) + " \u2192 " + shown(entry.inputSourceName);
    }
    return shown(entry.inputSourceName);
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
    std::string text = Localization::text(N_("%@ ms"), language_);
    if (const auto at = text.find("%@"); at != std::string::npos) {
        text.replace(at, 2, format_.oneDecimal(milliseconds));
    }
    return text;
}

ActivationLogRow ActivationLogRows::makeRow(const ActivationLogEntry& entry) const {
    ActivationLogRow row;
    row.id = entry.id;
    row.timestamp = entry.timestamp;
    row.time = format_.timeOfDay(entry.timestamp);
    row.source = ActivationLogText::sourceText(entry, sourceNames);
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
