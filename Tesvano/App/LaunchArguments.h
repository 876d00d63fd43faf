#pragma once

#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace tesvano {

// What the command line asks of this launch: URLs to open (none: a default launch), or the
// usage or the version. Qt's own options are left to it, with the value of those that take
// one; any other option is an error.
struct LaunchArguments {
    std::vector<std::string> urls;
    bool showHelp = false;     // -h, --help
    bool showVersion = false;  // -V, --version (and -v)

    bool isDefaultLaunch() const { return urls.empty(); }

    // What --help prints; `documentation` is the folder of the tesvano:// command reference.
    static std::string usage(const std::filesystem::path& documentation);
    // That folder for the program in `programFolder`: the installed copy beside it, else the
    // copy in the sources of a program run from its build.
    static std::filesystem::path documentationFolder(const std::filesystem::path& programFolder);
    // The two places of the command reference: beside the program in `programFolder` once
    // installed, and in the sources the program was built from (empty when unknown).
    static std::filesystem::path installedDocumentationFolder(
        const std::filesystem::path& programFolder);
    static std::filesystem::path sourceDocumentationFolder();

    // Without the program name. A word that is no absolute URL ("scheme:…") is an error.
    static std::expected<LaunchArguments, std::string> parse(std::span<const std::string> words);
    static std::expected<LaunchArguments, std::string> parse(int argc, char** argv);
};

}  // namespace tesvano
