#include "TesvanoKit/Apps/InstalledAppsScanner.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <memory>
#include <set>

#include "TesvanoKit/Monitors/LauncherOverlayCatalog.h"
#include "TesvanoKit/Monitors/ProcessIdentity.h"

namespace tesvano::InstalledAppsScanner {

namespace {

// The Name[locale] keys that can serve an interface language, best first.
std::vector<std::string_view> localeKeys(SupportedLanguage language) {
    switch (language) {
        case SupportedLanguage::english:
            return {"en_US", "en_GB", "en"};
        case SupportedLanguage::simplifiedChinese:
            return {"zh_CN", "zh_SG", "zh_Hans", "zh"};
        case SupportedLanguage::traditionalChinese:
            return {"zh_TW", "zh_HK", "zh_Hant"};
        case SupportedLanguage::japanese:
            return {"ja", "ja_JP"};
        case SupportedLanguage::french:
            return {"fr", "fr_FR"};
        case SupportedLanguage::german:
            return {"de", "de_DE"};
        case SupportedLanguage::spanish:
            return {"es", "es_ES"};
        case SupportedLanguage::portuguese:
            return {"pt", "pt_BR", "pt_PT"};
        case SupportedLanguage::russian:
            return {"ru", "ru_RU"};
    }
    return {};
}

// The collator of the interface language, comparing base letters and accents but not case.
std::unique_ptr<icu::Collator> makeCollator(SupportedLanguage language) {
    UErrorCode status = U_ZERO_ERROR;
    const auto locale = icu::Locale::forLanguageTag(rawValue(language).data(), status);
    status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) {
            return nullptr;
        }
    }
    collator->setStrength(icu::Collator::SECONDARY);
    return collator;
}

}  // namespace

std::vector<std::filesystem::path> searchFolders() {
    return platform::DesktopEntryIndex::standardApplicationFolders();
}

std::string displayName(const platform::DesktopEntry& entry, SupportedLanguage language) {
    for (const auto key : localeKeys(language)) {
        auto it = entry.localizedNames.find(std::string(key));
        if (it != entry.localizedNames.end() && !it->second.empty()) {
            return it->second;
        }
    }
    if (!entry.name.empty()) {
        return entry.name;
    }
    return entry.path.stem().string();
}

std::vector<InstalledApp> scan(const Environment& environment) {
    return list(platform::DesktopEntryIndex::scan(environment.folders), environment);
}

std::vector<InstalledApp> list(const platform::DesktopEntryIndex& entries,
                               const Environment& environment) {
    std::vector<InstalledApp> apps;
    std::set<std::string, std::less<>> taken;
    auto fromEntry = [&](const platform::DesktopEntry& entry) {
        return InstalledApp{entry.id, displayName(entry, environment.language),
                            entry.path.string()};
    };

    // What the desktop's menu lists; entries it keeps out count only while they run.
    for (const auto& entry : entries.entries()) {
        if (entry.noDisplay || !entry.isShownIn(environment.currentDesktops)) {
            continue;
        }
        if (taken.insert(entry.id).second) {
            apps.push_back(fromEntry(entry));
        }
    }

    for (const auto& running : environment.running) {
        auto identity = ProcessIdentity::identifier({running.appId, running.executablePath});
        if (!identity || taken.contains(*identity)) {
            continue;
        }
        taken.insert(*identity);
        const auto* entry = running.appId ? entries.entry(*running.appId) : nullptr;
        if (entry != nullptr) {
            apps.push_back(fromEntry(*entry));
            continue;
        }
        std::string name = ProcessIdentity::processName(*identity).value_or(*identity);
        apps.push_back({*identity, std::move(name), running.executablePath.value_or("")});
    }

    // A launcher's entry is often kept out of menus, yet its overlay can carry a rule.
    for (const auto& launcher : LauncherOverlayCatalog::launcherAppIds()) {
        if (taken.contains(launcher)) {
            continue;
        }
        if (const auto* entry = entries.entry(launcher)) {
            taken.insert(launcher);
            apps.push_back(fromEntry(*entry));
        }
    }

    sortByName(apps, environment.language);
    return apps;
}

void sortByName(std::vector<InstalledApp>& apps, SupportedLanguage language) {
    const auto collator = makeCollator(language);
    if (!collator) {
        std::ranges::stable_sort(apps, {}, &InstalledApp::name);
        return;
    }
    // Collation keys once per name rather than a comparison of two strings per step.
    std::vector<std::pair<std::string, std::size_t>> keys;
    keys.reserve(apps.size());
    for (std::size_t i = 0; i < apps.size(); ++i) {
        const auto name = icu::UnicodeString::fromUTF8(apps[i].name);
        std::string key(64, '\0');
        auto length = collator->getSortKey(name, reinterpret_cast<uint8_t*>(key.data()),
                                           static_cast<int32_t>(key.size()));
        if (length > static_cast<int32_t>(key.size())) {
            key.resize(static_cast<std::size_t>(length));
            length = collator->getSortKey(name, reinterpret_cast<uint8_t*>(key.data()), length);
        }
        key.resize(static_cast<std::size_t>(std::max(length, 1)) - 1);  // without the final NUL
        keys.emplace_back(std::move(key), i);
    }
    std::ranges::stable_sort(keys, {}, &std::pair<std::string, std::size_t>::first);
    std::vector<InstalledApp> sorted;
    sorted.reserve(apps.size());
    for (const auto& [key, index] : keys) {
        sorted.push_back(std::move(apps[index]));
    }
    apps = std::move(sorted);
}

}  // namespace tesvano::InstalledAppsScanner
