#include "TesvanoKit/Backup/ImportReviewText.h"

#include "TesvanoKit/Languages/Localization.h"
#include "TesvanoKit/Languages/TextKey.h"

namespace tesvano::ImportReviewText {

namespace {

std::string replacing(std::string text, std::string_view placeholder, std::string_view value) {
    if (const auto at = text.find(placeholder); at != std::string::npos) {
        text.replace(at, placeholder.size(), value);
    }
    return text;
}

// U+00B7 between spaces; shown as it is in every language.
constexpr std::string_view separator = " \u00B7 ";

}  // namespace

std::string withCount(std::string_view key, std::int64_t count, SupportedLanguage language) {
    return replacing(Localization::text(key, language), "%d", std::to_string(count));
}

std::string withText(std::string_view key, std::string_view value, SupportedLanguage language) {
    return replacing(Localization::text(key, language), "%@", value);
}

std::vector<std::string> assumptions(const ImportItem& item, SupportedLanguage language) {
    std::vector<std::string> out;
    if (item.unknownFileAction) {
        out.push_back(
            withText("Unknown behavior “%@”: imported as Lock", *item.unknownFileAction, language));
    }
    if (item.unknownFileMode) {
        out.push_back(
            withText("Unknown mode “%@”: imported as Lock", *item.unknownFileMode, language));
    }
    if (item.unknownFileMatchType) {
        out.push_back(withText("Unknown match type “%@”: imported as Domain suffix",
                               *item.unknownFileMatchType, language));
    }
    return out;
}

std::string ruleText(const ImportItem& item, Side side, const ImportPlan& plan,
                     SupportedLanguage language) {
    const bool file = side == Side::file;
    const auto& mode = file ? item.fileMode : item.localMode;
    const auto& source = file ? item.fileSource : item.localSource;
    const auto& action = file ? item.fileAction : item.localAction;
    const auto& matchType = file ? item.fileMatchType : item.localMatchType;

    auto phrase = [&](bool switches) {
        return Localization::withName(switches ? N_("Switch to %@") : N_("Lock to %@"),
                                      plan.sourceName(*source), language);
    };
    if (item.isApp()) {
        if (mode == AppRuleMode::ignored) {
            return Localization::text("Ignore", language);
        }
        if (mode == AppRuleMode::useDefault) {
            return Localization::text("Use default", language);
        }
        if (source) {
            return phrase(mode == AppRuleMode::switched);
        }
        return Localization::text("Default", language);
    }
    if (!source) {
        return Localization::text("Default", language);
    }
    std::string text = phrase(action == RuleAction::switchOnce);
    if (item.isURL() && matchType) {
        switch (*matchType) {
            case URLMatchType::domain:
                text += std::string(separator) + Localization::text("Exact domain", language);
                break;
            case URLMatchType::domainKeyword:
                text += std::string(separator) + Localization::text("Domain keyword", language);
                break;
            case URLMatchType::urlRegex:
                text += std::string(separator) + Localization::text("URL regex", language);
                break;
            case URLMatchType::domainSuffix:
                break;
        }
    }
    return text;
}

}  // namespace tesvano::ImportReviewText
