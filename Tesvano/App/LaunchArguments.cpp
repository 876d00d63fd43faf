#include "Tesvano/App/LaunchArguments.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace tesvano {

namespace {

// Qt's command-line options that take the next word as their value.
constexpr std::array<std::string_view, 13> qtOptionsWithValue{
    "-platform",     "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry",
    "-qwindowtitle", "-qwindowicon",        "-display",       "-style",  "-stylesheet",
    "-session",      "-geometry",           "-title",
};

bool isAbsoluteURL(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return false;
    }
    const auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!isAlpha(text[0])) {
        return false;
    }
    return std::all_of(
        text.begin() + 1, text.begin() + static_cast<std::ptrdiff_t>(colon), [&](char c) {
            return isAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        });
}

bool isOwnScheme(std::string_view url) {
    constexpr std::string_view own = "tesvano:";
    return url.size() >= own.size() &&
           std::equal(own.begin(), own.end(), url.begin(), [](char a, char b) {
               return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
           });
}

}  // namespace

std::expected<LaunchArguments, std::string> LaunchArguments::parse(
    std::span<const std::string> words) {
    LaunchArguments out;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && word.size() > 1 && word[0] == '-') {
            const std::string_view option =
                word.starts_with("--") ? std::string_view(word).substr(1) : std::string_view(word);
            if (std::ranges::find(qtOptionsWithValue, option) != qtOptionsWithValue.end() &&
                option.find('=') == std::string_view::npos) {
                ++i;
            }
            continue;
        }
        if (!isAbsoluteURL(word)) {
            return std::unexpected("not a URL: \"" + word + "\" (expected e.g. tesvano://status)");
        }
        // Only our own scheme carries commands; "https://unlock" must not unlock.
        if (!isOwnScheme(word)) {
            return std::unexpected("not a tesvano: URL: \"" + word +
                                   "\" (only tesvano:// commands are accepted)");
        }
        out.urls.push_back(word);
    }
    return out;
}

std::expected<LaunchArguments, std::string> LaunchArguments::parse(int argc, char** argv) {
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        words.emplace_back(argv[i]);
    }
    return parse(words);
}

}  // namespace tesvano
