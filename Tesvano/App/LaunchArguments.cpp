#include "Tesvano/App/LaunchArguments.h"

#include <algorithm>
#include <array>
#include <string_view>

// The command reference in the sources the program was built from, and its place relative to
// the installed program (both set by the build).
#ifndef TESVANO_DOCS_DIR
#define TESVANO_DOCS_DIR ""
#endif
#ifndef TESVANO_INSTALLED_DOCS_RELATIVE
#define TESVANO_INSTALLED_DOCS_RELATIVE "../share/doc/tesvano/url-scheme"
#endif

namespace tesvano {

namespace {

// Qt's command-line options that take the next word as their value, and those that take none.
constexpr std::array<std::string_view, 14> qtOptionsWithValue{
    "-platform",     "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry",
    "-qwindowtitle", "-qwindowicon",        "-display",       "-style",  "-stylesheet",
    "-session",      "-geometry",           "-title",         "-name",
};
constexpr std::array<std::string_view, 6> qtFlags{
    "-reverse", "-widgetcount", "-nograb", "-dograb", "-sync", "-testability",
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
            if (word == "-h" || word == "--help") {
                out.showHelp = true;
                continue;
            }
            // -v as well: earlier versions documented it, and with no verbose mode to mean
            // instead, scripts that call it keep working.
            if (word == "-V" || word == "--version" || word == "-v") {
                out.showVersion = true;
                continue;
            }
            const std::string_view option =
                word.starts_with("--") ? std::string_view(word).substr(1) : std::string_view(word);
            const auto name = option.substr(0, option.find('='));
            if (std::ranges::find(qtOptionsWithValue, name) != qtOptionsWithValue.end()) {
                if (name.size() == option.size()) {
                    ++i;
                }
                continue;
            }
            if (std::ranges::find(qtFlags, option) != qtFlags.end()) {
                continue;
            }
            return std::unexpected("unknown option \"" + word + "\" (see tesvano --help)");
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

std::string LaunchArguments::usage(const std::filesystem::path& documentation) {
    return "Usage: tesvano [OPTION...] [tesvano://COMMAND...]\n"
           "Keeps the keyboard input source where you want it, per application and per web page.\n"
           "\n"
           "Without arguments, starts Tesvano, or opens the Settings of the one that runs.\n"
           "With tesvano:// URLs, hands them to the running Tesvano (starting it when none\n"
           "runs) and returns once it has taken them; the commands are described in\n" +
           documentation.string() +
           "/\n"
           "\n"
           "  -h, --help     show this help and exit\n"
           "  -V, --version  show the version and exit\n"
           "  --             what follows is a URL, even when it begins with -\n"
           "\n"
           "Qt's options (-platform, -display, -style, ...) are passed to Qt.\n"
           "Exit status: 0 when done, 1 when Tesvano could not start or be reached,\n"
           "2 for a bad argument.\n";
}

std::filesystem::path LaunchArguments::installedDocumentationFolder(
    const std::filesystem::path& programFolder) {
    return (programFolder / TESVANO_INSTALLED_DOCS_RELATIVE).lexically_normal();
}

std::filesystem::path LaunchArguments::sourceDocumentationFolder() {
    return TESVANO_DOCS_DIR;
}

std::filesystem::path LaunchArguments::documentationFolder(
    const std::filesystem::path& programFolder) {
    // Beside the installed program first; a program run from its build finds the copy in the
    // sources it was built from.
    const auto installed = installedDocumentationFolder(programFolder);
    const auto sources = sourceDocumentationFolder();
    std::error_code ec;
    if (std::filesystem::is_directory(installed, ec) || sources.empty() ||
        !std::filesystem::is_directory(sources, ec)) {
        return installed;
    }
    return sources;
}

std::expected<LaunchArguments, std::string> LaunchArguments::parse(int argc, char** argv) {
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        words.emplace_back(argv[i]);
    }
    return parse(words);
}

}  // namespace tesvano
