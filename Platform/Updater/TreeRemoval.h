#pragma once

#include <expected>
#include <filesystem>
#include <string>

namespace tesvano::platform {

// Deletes `path` and everything below it, however deep: the walk keeps the names still to visit
// in memory and holds at most three descriptors, so a tree deeper than the open-file limit
// goes as well. Never follows a link. A missing `path` is not an error.
std::expected<void, std::string> removeTree(const std::filesystem::path& path);

// The same for what `folder` holds; the folder itself stays.
std::expected<void, std::string> emptyFolder(const std::filesystem::path& folder);

}  // namespace tesvano::platform
