#pragma once

#include <expected>
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
    bool showVersion = false;  // -v, --version

    bool isDefaultLaunch() const { return urls.empty(); }

    // What --help prints.
    static std::string usage();

    // Without the program name. A word that is no absolute URL ("scheme:…") is an error.
    static std::expected<LaunchArguments, std::string> parse(std::span<const std::string> words);
    static std::expected<LaunchArguments, std::string> parse(int argc, char** argv);
};

}  // namespace tesvano
