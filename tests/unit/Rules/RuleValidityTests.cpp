// One verdict on a rule, whichever way it comes in: the URL rule editor, a tesvano:// command,
// an imported backup.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "TesvanoKit/Automation/URLCommandParser.h"
#include "TesvanoKit/Backup/ImportPlan.h"
#include "TesvanoKit/Rules/RuleValidity.h"
#include "TesvanoKit/Rules/URLRuleDraft.h"
#include "TesvanoKit/Rules/URLRuleList.h"

namespace tesvano {
namespace {

std::string percentEncoded(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '.' || c == '-' || c == '_') {
            out.push_back(c);
        } else {
            out += {'%', hex[byte >> 4], hex[byte & 15]};
        }
    }
    return out;
}

// The stored pattern each way in makes of `pattern`, or none where it refuses it.
struct Verdicts {
    std::optional<std::string> editor, command, import;
};

Verdicts verdicts(const std::string& pattern, URLMatchType type, const LockConfiguration& local) {
    Verdicts out;
    URLRuleDraft draft = URLRuleDraft::forNewRule();
    draft.pattern = pattern;
    draft.matchType = type;
    draft.source = InputSourceID("xkb:de");
    if (auto rule = URLRuleDraftCheck::save(draft, {local.urlRules, local.defaultSourceID})) {
        out.editor = rule->hostPattern;
    }

    const auto parsed = URLCommandParser::parse(
        "tesvano://set-url-rule?source=xkb:de&match-type=" + std::string(rawValue(type)) +
        "&host=" + percentEncoded(pattern));
    if (parsed) {
        const auto& command = std::get<URLCommand::SetURLRule>(parsed->command.value);
        // Another rule's pattern in another letter case is refused when the command runs.
        const bool taken = std::ranges::any_of(local.urlRules, [&](const URLRule& rule) {
            return URLRuleList::samePattern(rule.hostPattern, command.host);
        });
        if (!taken) {
            out.command = command.host;
        }
    }

    ConfigBackup backup;
    backup.payload.urlRules = {
        BackupURLRule{pattern, InputSourceID("xkb:de"), RuleAction::lock, type}};
    const ImportPlan plan = ImportPlan::make(local, backup, {}, ImportMode::merge);
    const LockConfiguration after = plan.apply();
    EXPECT_TRUE(RuleValidity::rulesAreValid(after)) << pattern.substr(0, 40);
    EXPECT_EQ(plan.leftOutRuleCount, plan.items.empty() ? 1 : 0) << pattern.substr(0, 40);
    if (!plan.items.empty() && plan.items[0].status == ImportItem::Status::new_) {
        out.import = std::get<ImportItem::URL>(plan.items[0].subject).hostPattern;
    }
    return out;
}

TEST(RuleValidity, TheEditorTheCommandsAndImportTakeAndRefuseTheSamePatterns) {
    LockConfiguration local;
    local.urlRules = {URLRule{Uuid::random(), "taken.example", InputSourceID("xkb:us")}};
    const std::string longest(RuleValidity::maximumPatternCharacters, 'a');
    const struct {
        std::string pattern;
        URLMatchType type;
        std::optional<std::string> stored;
    } cases[] = {
        {"example.com", URLMatchType::domainSuffix, "example.com"},
        {"  example.com\t", URLMatchType::domainSuffix, "example.com"},
        {"", URLMatchType::domainSuffix, std::nullopt},
        {" \t ", URLMatchType::domain, std::nullopt},
        {longest, URLMatchType::domainKeyword, longest},
        {longest + "a", URLMatchType::domainKeyword, std::nullopt},
        {std::string(4 * 1024 * 1024, 'a'), URLMatchType::domain, std::nullopt},
        {"(unclosed", URLMatchType::urlRegex, std::nullopt},
        {"(unclosed", URLMatchType::domainKeyword, "(unclosed"},
        {"^https://[a-z]+\\.example/", URLMatchType::urlRegex, "^https://[a-z]+\\.example/"},
        {"TAKEN.example", URLMatchType::domain, std::nullopt},
        {"\u00C9T\u00C9.example", URLMatchType::domain, "\u00C9T\u00C9.example"},
    };
    for (const auto& c : cases) {
        const Verdicts v = verdicts(c.pattern, c.type, local);
        const std::string name = c.pattern.substr(0, 40);
        EXPECT_EQ(v.editor, c.stored) << "editor: " << name;
        EXPECT_EQ(v.command, c.stored) << "command: " << name;
        EXPECT_EQ(v.import, c.stored) << "import: " << name;
    }
}

TEST(RuleValidity, ImportMeetsARuleInAnyLetterCaseAndLeavesOutWhatNoCommandTakes) {
    LockConfiguration local;
    local.urlRules = {URLRule{Uuid::random(), "example.com", InputSourceID("xkb:us")}};
    ConfigBackup backup;
    backup.payload.urlRules = {
        BackupURLRule{"EXAMPLE.com", InputSourceID("xkb:de")},
        BackupURLRule{"Example.COM ", InputSourceID("xkb:us")},  // repeats the first
    };
    const std::string hugeID(3 * 1024 * 1024, 'x');
    backup.payload.appRules = {AppRule{hugeID, AppRuleMode::ignored, std::nullopt},
                               AppRule{"", AppRuleMode::ignored, std::nullopt},
                               AppRule{"org.example.App", AppRuleMode::ignored, std::nullopt}};
    EXPECT_FALSE(URLCommandParser::parse("tesvano://set-app-rule?mode=ignore&bundle=" + hugeID));

    ImportPlan plan = ImportPlan::make(local, backup, {}, ImportMode::merge);
    EXPECT_EQ(plan.leftOutRuleCount, 2);
    ASSERT_EQ(plan.items.size(), 2u);
    EXPECT_EQ(plan.items[1].status, ImportItem::Status::conflict) << "the same rule as the local";
    plan.items[1].resolution = ConflictResolution::useFile;
    const LockConfiguration after = plan.apply();
    ASSERT_EQ(after.urlRules.size(), 1u);
    EXPECT_EQ(after.urlRules[0].hostPattern, "EXAMPLE.com");
    EXPECT_EQ(after.appRules.size(), 1u);
    EXPECT_TRUE(RuleValidity::rulesAreValid(after));
    EXPECT_EQ(plan.summary(), (ImportSummary{1, 1, 0, 0, 1}));

    plan.mode = ImportMode::replace;
    EXPECT_TRUE(RuleValidity::rulesAreValid(plan.apply()));
}

}  // namespace
}  // namespace tesvano
