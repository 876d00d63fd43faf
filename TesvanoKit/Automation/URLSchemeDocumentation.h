#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "TesvanoKit/Languages/SupportedLanguage.h"

namespace tesvano {

// Where the description of the tesvano:// commands is found, in the interface language.
namespace URLSchemeDocumentation {

// The language's file name inside the documentation folder.
std::string_view fileName(SupportedLanguage language);

// The language's file in the first folder that holds it; when no folder does, the English
// file in the first folder that holds that; none when neither exists anywhere.
std::optional<std::filesystem::path> locate(
    SupportedLanguage language, std::span<const std::filesystem::path> folders,
    const std::function<bool(const std::filesystem::path&)>& exists = {});

}  // namespace URLSchemeDocumentation

}  // namespace tesvano
