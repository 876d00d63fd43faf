#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "Platform/TextInput/GnomeShell/GnomeShellExtension.h"
#include "Platform/TextInput/GnomeShell/GnomeShellTextInputSources.h"

namespace tesvano::platform {
namespace {

namespace shell = gnome_shell;

// The shell's ExtensionState numbers.
constexpr int enabled = 1;
constexpr int disabled = 2;
constexpr int error = 3;
constexpr int outOfDate = 4;

TEST(GnomeShellSourceIDs, MapBothWaysLikeTheOtherBackends) {
    struct Case {
        shell::ShellSource source;
        const char* id;
    };
    const Case cases[] = {
        {{"xkb", "us"}, "xkb:us"},
        {{"xkb", "de+nodeadkeys"}, "xkb:de(nodeadkeys)"},
        {{"xkb", "us+altgr-intl"}, "xkb:us(altgr-intl)"},
        {{"ibus", "anthy"}, "ibus:anthy"},
        // An engine's own name keeps its punctuation: only XKB ids carry a variant.
        {{"ibus", "xkb:us::eng"}, "ibus:xkb:us::eng"},
        {{"ibus", "m17n:hi:inscript+x"}, "ibus:m17n:hi:inscript+x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(shell::sourceID(c.source), c.id);
        EXPECT_EQ(shell::shellSource(c.id), c.source);
    }
}

TEST(GnomeShellSourceIDs, IdsNoShellSourceCanHaveAreRefused) {
    for (const char* id :
         {"", "us", ":us", "xkb:", "xkb:(intl)", "xkb:us(", "xkb:us()", "xkb:us(intl"}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(shell::shellSource(id), std::nullopt);
    }
}

TEST(GnomeShellSourceIDs, GnomeIsOneEntryOfTheDesktopList) {
    const std::pair<const char*, bool> cases[] = {
        {"GNOME", true},
        {"ubuntu:GNOME", true},
        {"GNOME-Classic:GNOME", true},
        {"GNOME-Flashback", false},
        {"KDE", false},
        {"", false},
        {"XFCE:gnome", false},
    };
    for (const auto& [desktop, gnome] : cases) {
        SCOPED_TRACE(desktop);
        EXPECT_EQ(shell::isGnomeDesktop(desktop), gnome);
    }
}

TEST(GnomeShellExtensionState, FollowsWhatTheSessionSays) {
    using State = GnomeShellExtensionState;
    struct Case {
        const char* name;
        GnomeShellExtensionFacts facts;
        State state;
    };
    const auto gnome = [](auto change) {
        GnomeShellExtensionFacts facts;
        facts.gnome = true;
        change(facts);
        return facts;
    };
    const Case cases[] = {
        {"another desktop", GnomeShellExtensionFacts{}, State::notGnome},
        {"nothing installed", gnome([](auto&) {}), State::notInstalled},
        {"files, not listed", gnome([](auto& f) { f.filesInstalled = true; }), State::disabled},
        {"listed, the shell has not read it yet", gnome([](auto& f) {
             f.filesInstalled = true;
             f.listedAsEnabled = true;
         }),
         State::needsShellRestart},
        {"listed, the shell knows it disabled", gnome([](auto& f) {
             f.filesInstalled = true;
             f.listedAsEnabled = true;
             f.shellState = disabled;
         }),
         State::disabled},
        {"system-wide copy the shell knows", gnome([](auto& f) { f.shellState = disabled; }),
         State::disabled},
        {"user extensions off", gnome([](auto& f) {
             f.filesInstalled = true;
             f.listedAsEnabled = true;
             f.userExtensionsDisabled = true;
         }),
         State::userExtensionsOff},
        {"error", gnome([](auto& f) {
             f.filesInstalled = true;
             f.listedAsEnabled = true;
             f.shellState = error;
         }),
         State::failed},
        {"unsupported shell", gnome([](auto& f) {
             f.filesInstalled = true;
             f.shellState = outOfDate;
         }),
         State::failed},
        {"enabled but silent", gnome([](auto& f) {
             f.filesInstalled = true;
             f.listedAsEnabled = true;
             f.shellState = enabled;
         }),
         State::failed},
        {"answers", gnome([](auto& f) {
             f.filesInstalled = true;
             f.listedAsEnabled = true;
             f.shellState = enabled;
             f.answers = true;
         }),
         State::active},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(classify(c.facts), c.state);
    }
}

TEST(GnomeShellExtensionFiles, DeclareTheUuidAndTheBusNameTheProgramUses) {
    const auto& files = gnomeShellExtensionFiles();
    ASSERT_EQ(files.size(), 3U);
    const auto& metadata = files[0].second;
    EXPECT_NE(metadata.find(std::string("\"uuid\": \"") + shell::extensionUUID + "\""),
              std::string::npos);
    EXPECT_NE(metadata.find("\"43\""), std::string::npos);
    // The program trusts the announcements of the version it carries.
    std::smatch version;
    ASSERT_TRUE(std::regex_search(metadata, version, std::regex(R"("version": (\d+))")));
    EXPECT_GE(std::stoi(version[1]), shell::announcesEveryChangeSince);
    const auto& script = files[1].second;
    for (const char* name : {shell::busName, shell::objectPath, files[2].first.c_str()}) {
        EXPECT_NE(script.find(name), std::string::npos) << name;
    }
    EXPECT_NE(files[2].second.find(std::string("<interface name=\"") + shell::interfaceName),
              std::string::npos);
}

// Each method's and signal's signatures as the extension's interface declares them, by
// "method Name" or "signal Name": the arguments' (a signal's own) and a method's reply's.
std::map<std::string, std::pair<std::string, std::string>> declaredMembers(const std::string& xml) {
    const std::regex member(R"re(<(method|signal) name="(\w+)"\s*(/>|>([\s\S]*?)</\1>))re");
    const std::regex arg(R"re(<arg\b[^>]*\btype="([^"]+)"[^>]*>)re");
    std::map<std::string, std::pair<std::string, std::string>> out;
    for (std::sregex_iterator m(xml.begin(), xml.end(), member), end; m != end; ++m) {
        auto& [arguments, reply] = out[(*m)[1].str() + " " + (*m)[2].str()];
        const std::string body = (*m)[4];
        for (std::sregex_iterator a(body.begin(), body.end(), arg); a != end; ++a) {
            const bool returned = a->str().find("direction=\"out\"") != std::string::npos;
            ((*m)[1] == "method" && returned ? reply : arguments) += (*a)[1];
        }
    }
    return out;
}

TEST(GnomeShellExtensionFiles, InterfaceDeclaresWhatTheClientCallsAndFollows) {
    std::map<std::string, std::pair<std::string, std::string>> used;
    for (const auto& call : shell::members::calls) {
        used["method " + std::string(call.name)] = {call.arguments, call.reply};
    }
    for (const auto& signal : shell::members::followed) {
        used["signal " + std::string(signal.name)] = {signal.signature, ""};
    }
    const auto declared = declaredMembers(gnomeShellExtensionFiles()[2].second);
    for (const auto& [name, signatures] : used) {
        SCOPED_TRACE(name);
        const auto it = declared.find(name);
        ASSERT_NE(it, declared.end());
        EXPECT_EQ(it->second, signatures);
    }
}

}  // namespace
}  // namespace tesvano::platform
