#include "TesvanoKit/Rules/URLRuleList.h"

#include <unicode/stringoptions.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace tesvano::URLRuleList {

bool samePattern(const std::string& a, const std::string& b) {
    const auto isASCII = [](const std::string& s) {
        return std::ranges::all_of(s, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    };
    if (isASCII(a) && isASCII(b)) {
        const auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        return std::ranges::equal(a, b, {}, lower, lower);
    }
    return icu::UnicodeString::fromUTF8(a).caseCompare(icu::UnicodeString::fromUTF8(b),
                                                       U_FOLD_CASE_DEFAULT) == 0;
}

std::string patternKey(const std::string& pattern) {
    if (std::ranges::all_of(pattern, [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        std::string key = pattern;
        for (char& c : key) {
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        return key;
    }
    std::string key;
    icu::UnicodeString::fromUTF8(pattern).foldCase(U_FOLD_CASE_DEFAULT).toUTF8String(key);
    return key;
}

std::vector<URLRule> upsert(const URLRule& rule, std::vector<URLRule> list) {
    const bool otherHasPattern = std::ranges::any_of(list, [&](const URLRule& r) {
        return r.id != rule.id && samePattern(r.hostPattern, rule.hostPattern);
    });

    const auto sameID = std::ranges::find(list, rule.id, &URLRule::id);
    if (sameID != list.end() && !otherHasPattern) {
        *sameID = rule;
        return list;
    }

    const auto holder = std::ranges::find_if(
        list, [&](const URLRule& r) { return samePattern(r.hostPattern, rule.hostPattern); });
    if (holder == list.end()) {
        list.push_back(rule);
        return list;
    }

    holder->hostPattern = rule.hostPattern;
    holder->lockedSourceID = rule.lockedSourceID;
    holder->action = rule.action;
    holder->matchType = rule.matchType;
    // The edited rule now lives on in the holder; drop its old copy.
    const auto holderIndex = holder - list.begin();
    std::vector<URLRule> result;
    result.reserve(list.size());
    for (std::ptrdiff_t i = 0; i < std::ssize(list); ++i) {
        if (i == holderIndex || list[static_cast<std::size_t>(i)].id != rule.id) {
            result.push_back(std::move(list[static_cast<std::size_t>(i)]));
        }
    }
    return result;
}

std::optional<std::vector<URLRule>> reorder(const std::vector<URLRule>& current,
                                            const std::vector<URLRule>& proposed) {
    if (proposed.size() != current.size()) {
        return std::nullopt;
    }
    std::unordered_map<Uuid, const URLRule*> byID;
    for (const URLRule& rule : current) {
        byID[rule.id] = &rule;  // for a repeated id the later rule wins
    }
    std::unordered_set<Uuid> proposedIDs;
    for (const URLRule& rule : proposed) {
        if (!proposedIDs.insert(rule.id).second) {
            return std::nullopt;
        }
    }
    if (proposedIDs.size() != byID.size() ||
        !std::ranges::all_of(proposedIDs, [&](const Uuid& id) { return byID.contains(id); })) {
        return std::nullopt;
    }
    if (std::ranges::equal(current, proposed, {}, &URLRule::id, &URLRule::id)) {
        return std::nullopt;
    }
    std::vector<URLRule> result;
    result.reserve(proposed.size());
    for (const URLRule& rule : proposed) {
        result.push_back(*byID.at(rule.id));
    }
    return result;
}

}  // namespace tesvano::URLRuleList
