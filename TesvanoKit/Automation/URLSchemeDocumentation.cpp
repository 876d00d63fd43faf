#include "TesvanoKit/Automation/URLSchemeDocumentation.h"

#include <system_error>

namespace tesvano::URLSchemeDocumentation {

std::string_view fileName(SupportedLanguage language) {
    switch (language) {
        case SupportedLanguage::english:
            return "README.md";
        case SupportedLanguage::simplifiedChinese:
            return "README.zh-CN.md";
        case SupportedLanguage::traditionalChinese:
            return "README.zh-TW.md";
        case SupportedLanguage::japanese:
            return "README.ja.md";
        case SupportedLanguage::french:
            return "README.fr.md";
        case SupportedLanguage::german:
            return "README.de.md";
        case SupportedLanguage::spanish:
            return "README.es.md";
        case SupportedLanguage::portuguese:
            return "README.pt.md";
        case SupportedLanguage::russian:
            return "README.ru.md";
    }
    return "README.md";
}

std::optional<std::filesystem::path> locate(
    SupportedLanguage language, std::span<const std::filesystem::path> folders,
    const std::function<bool(const std::filesystem::path&)>& exists) {
    auto isThere = [&](const std::filesystem::path& file) {
        if (exists) {
            return exists(file);
        }
        std::error_code error;
        return std::filesystem::is_regular_file(file, error);
    };
    for (SupportedLanguage wanted : {language, SupportedLanguage::english}) {
        for (const auto& folder : folders) {
            if (folder.empty()) {
                continue;
            }
            auto file = folder / fileName(wanted);
            if (isThere(file)) {
                return file;
            }
        }
    }
    return std::nullopt;
}

}  // namespace tesvano::URLSchemeDocumentation
