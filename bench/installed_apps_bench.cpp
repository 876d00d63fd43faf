// The installed-applications scan over 2,000 desktop entries: reading and parsing the files,
// then the listing and the sort by name in the interface language; the sort alone too.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "TesvanoKit/Apps/InstalledAppsScanner.h"

namespace {

using namespace tesvano;
namespace fs = std::filesystem;

constexpr int kEntries = 2000;

// Names of several scripts and with accents, so the collation has real work.
std::string nameOf(int i) {
    static const char* const stems[] = {"Editor",   "Éditeur",    "Браузер", "终端",
                                        "Zeichnen", "calculator", "Ärzte",   "メール"};
    return std::string(stems[i % 8]) + " " + std::to_string(i * 7919 % kEntries);
}

class Tree {
public:
    Tree() {
        std::string pattern = (fs::temp_directory_path() / "tesvano-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        root_ = pattern;
        // Like a desktop: most in the system folder, some in the user's, a few hidden.
        for (int i = 0; i < kEntries; ++i) {
            const auto folder = root_ / (i % 10 == 0 ? "home" : "system") / "applications";
            fs::create_directories(folder);
            std::ofstream out(folder / ("org.example.App" + std::to_string(i) + ".desktop"));
            out << "[Desktop Entry]\nType=Application\nName=" << nameOf(i)
                << "\nName[de]=" << nameOf(i) << " DE\nComment=An application\nExec=app" << i
                << " %U\nIcon=app" << i << "\nCategories=Utility;\n"
                << (i % 25 == 0 ? "NoDisplay=true\n" : "")
                << (i % 40 == 0 ? "OnlyShowIn=KDE;\n" : "")
                << "\n[Desktop Action new]\nName=New Window\nExec=app" << i << " --new\n";
        }
    }
    ~Tree() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    InstalledAppsScanner::Environment environment(SupportedLanguage language) const {
        return {{root_ / "home/applications", root_ / "system/applications"},
                {"GNOME"},
                {{1, std::nullopt, "/usr/bin/htop"}, {2, "org.example.App3", "/usr/bin/app3"}},
                language};
    }

private:
    fs::path root_;
};

void BM_ScanTwoThousandEntries(benchmark::State& state) {
    static const Tree tree;
    const auto environment = tree.environment(static_cast<SupportedLanguage>(state.range(0)));
    std::size_t found = 0;
    for (auto _ : state) {
        auto apps = InstalledAppsScanner::scan(environment);
        found = apps.size();
        benchmark::DoNotOptimize(apps);
    }
    state.counters["apps"] = static_cast<double>(found);
}
BENCHMARK(BM_ScanTwoThousandEntries)
    ->Arg(static_cast<int>(SupportedLanguage::english))
    ->Arg(static_cast<int>(SupportedLanguage::simplifiedChinese))
    ->Unit(benchmark::kMillisecond);

void BM_SortTwoThousandNames(benchmark::State& state) {
    std::vector<InstalledApp> apps;
    for (int i = 0; i < kEntries; ++i) {
        apps.push_back({"id" + std::to_string(i), nameOf(i), ""});
    }
    for (auto _ : state) {
        auto copy = apps;
        InstalledAppsScanner::sortByName(copy, SupportedLanguage::german);
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_SortTwoThousandNames)->Unit(benchmark::kMillisecond);

}  // namespace
