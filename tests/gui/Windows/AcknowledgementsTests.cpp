// The acknowledgements against the libraries the program really loads.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Tesvano/Windows/AboutView.h"

namespace tesvano {
namespace {

#ifdef TESVANO_PROGRAM

// The shared libraries the program names (DT_NEEDED), as readelf lists them.
std::vector<std::string> neededLibraries(const std::string& program) {
    std::vector<std::string> needed;
    FILE* out = ::popen(("readelf -d --wide '" + program + "' 2>/dev/null").c_str(), "r");
    if (out == nullptr) {
        return needed;
    }
    char line[1024];
    while (std::fgets(line, sizeof line, out) != nullptr) {
        const std::string text(line);
        const auto open = text.find('[');
        const auto close = text.rfind(']');
        if (text.find("(NEEDED)") != std::string::npos && open != std::string::npos &&
            close != std::string::npos && close > open) {
            needed.push_back(text.substr(open + 1, close - open - 1));
        }
    }
    ::pclose(out);
    return needed;
}

TEST(Acknowledgements, NameEveryLibraryTheProgramLinksWithItsLicence) {
    const auto needed = neededLibraries(TESVANO_PROGRAM);
    ASSERT_FALSE(needed.empty()) << "readelf (binutils) could not list " << TESVANO_PROGRAM;
    for (const auto& file : needed) {
        bool named = false;
        for (const auto& library : AcknowledgementsView::libraries()) {
            for (const QString& prefix : library.files) {
                named = named || QString::fromStdString(file).startsWith(prefix);
            }
        }
        EXPECT_TRUE(named) << file << " is linked but not acknowledged";
    }
    for (const auto& library : AcknowledgementsView::libraries()) {
        EXPECT_FALSE(library.license.isEmpty()) << library.name.toStdString();
        EXPECT_TRUE(library.url.isValid() && library.url.scheme() == QStringLiteral("https"))
            << library.name.toStdString();
    }
}

#endif

}  // namespace
}  // namespace tesvano
