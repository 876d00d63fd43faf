#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "TesvanoKit/Automation/URLSchemeDocumentation.h"
#include "tests/support/TempDir.h"

namespace tesvano {
namespace {

using L = SupportedLanguage;
using std::filesystem::path;

TEST(URLSchemeDocumentation, TheLanguagesFileWhereverItIsElseEnglish) {
    const std::vector<path> folders{"/build/docs", "/usr/share/doc/tesvano/url-scheme"};
    const std::set<path> existing{"/build/docs/README.md", "/build/docs/README.ja.md",
                                  "/usr/share/doc/tesvano/url-scheme/README.de.md",
                                  "/usr/share/doc/tesvano/url-scheme/README.md"};
    auto exists = [&](const path& file) { return existing.contains(file); };
    const std::pair<L, path> cases[] = {
        {L::english, "/build/docs/README.md"},
        {L::japanese, "/build/docs/README.ja.md"},
        {L::german, "/usr/share/doc/tesvano/url-scheme/README.de.md"},
        {L::russian, "/build/docs/README.md"},
    };
    for (const auto& [language, expected] : cases) {
        EXPECT_EQ(URLSchemeDocumentation::locate(language, folders, exists), expected)
            << rawValue(language);
    }
    const std::vector<path> installedOnly{"", "/usr/share/doc/tesvano/url-scheme"};
    EXPECT_EQ(URLSchemeDocumentation::locate(L::french, installedOnly, exists),
              path("/usr/share/doc/tesvano/url-scheme/README.md"));
    EXPECT_EQ(URLSchemeDocumentation::locate(L::english, std::vector<path>{"/nowhere"}, exists),
              std::nullopt);

    // On disk: a folder named like a file is not a document.
    test::TempDir dir;
    std::filesystem::create_directory(dir.path() / "README.zh-CN.md");
    std::ofstream(dir.path() / "README.md") << "# Commands\n";
    EXPECT_EQ(URLSchemeDocumentation::locate(L::simplifiedChinese, std::vector<path>{dir.path()}),
              dir.path() / "README.md");
}

}  // namespace
}  // namespace tesvano
