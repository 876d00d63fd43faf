// Signed archives that a release would never hold, against the whole update road: a folder
// bomb on a small file system, a refused tree and a leftover deeper than the open-file limit,
// a Cancel while the reader skips gigabytes it will not write, checks thousands of long links or
// decompresses millions of empty gzip members.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <cstring>
#include <set>

#include "tests/e2e-updates/UpdateFixture.h"
#include "tests/support/TarBuilder.h"

namespace tesvano::test {
namespace {

using HostileArchiveTest = SelfUpdateTest;

// Where the members of a tar file end (its first zero block).
std::uint64_t tarEnd(const std::string& tar) {
    std::uint64_t at = 0;
    while (at + 512 <= tar.size() && tar.find_first_not_of('\0', at) < at + 512) {
        const std::uint64_t size = std::stoull(tar.substr(at + 124, 12), nullptr, 8);
        at += 512 + (size + 511) / 512 * 512;
    }
    return at;
}

// `members` put after the last member of the tar file, then a declared run of `zeros` (a hole
// in the file, so that a gigabyte costs no disk), then the end.
void appendMembers(const fs::path& tar, const TarBuilder& members, std::uint64_t zeros = 0) {
    std::string bytes = readFile(tar);
    bytes.resize(tarEnd(bytes));
    bytes += members.tar();
    const int fd = ::open(tar.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    const off_t end = static_cast<off_t>(bytes.size() + zeros + 1024);
    ASSERT_EQ(::ftruncate(fd, end), 0);
    ::close(fd);
}

// A chain of `depth` folders, made without a descriptor per level.
void makeDeep(const fs::path& top, int depth) {
    fs::create_directories(top);
    int at = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < depth; ++i) {
        ::mkdirat(at, "d", 0755);
        const int next = ::openat(at, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(at);
        at = next;
    }
    ::close(at);
}

std::string deepPath(const std::string& top, int folders, const std::string& leaf) {
    std::string name = "tesvano-1.2.0/" + top;
    for (int i = 0; i < folders; ++i) {
        name += "/d";
    }
    return name + "/" + leaf;
}

// The names in `folder` and, on its own file system, the free file entries and blocks.
struct Snapshot {
    std::set<fs::path> names;
    std::uint64_t freeInodes = 0;
    std::uint64_t freeBlocks = 0;
    bool operator==(const Snapshot&) const = default;
};
Snapshot snapshot(const fs::path& folder, bool withSpace) {
    struct statvfs space {};
    ::statvfs(folder.c_str(), &space);
    return {std::set<fs::path>{fs::directory_iterator(folder), {}}, withSpace ? space.f_ffree : 0,
            withSpace ? space.f_bfree : 0};
}

TEST_F(HostileArchiveTest, AFolderBombStopsAtTheFileEntriesOfASmallFileSystemLeavingNothing) {
    const fs::path small = dir / "small";
    fs::create_directories(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=24m,nr_inodes=3000") != 0) {
        GTEST_SKIP() << "no tmpfs can be mounted here: " << std::strerror(errno);
    }
    const fs::path installed = small / "tesvano";
    fs::copy(root, installed, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    executable = installed / "current" / "bin" / "tesvano";
    unpackLimits.keepFree = 1 << 20;
    unpackLimits.keepFreeInodes = 256;
    // 61 members whose names make 250 folders each that no member names.
    TarBuilder bomb;
    for (int i = 0; i < 61; ++i) {
        bomb.pax("path", deepPath(std::to_string(i), 250, "x")).file("long", "x");
    }
    const Snapshot before = snapshot(installed, true);
    addRelease(dir / "bad.xml", "1.2.0", TESVANO_PROBE_STABLE, true, "",
               [&](const fs::path& tar) { appendMembers(tar, bomb); });
    server.answer("/Tesvano/appcast-x86_64.xml", {readAll(dir / "bad.xml")});
    makeState();
    checkFinds("1.2.0");
    button("install")->click();
    ASSERT_TRUE(waitFor([&] { return phase() == Kind::error; }, std::chrono::seconds(60)));
    EXPECT_EQ(snapshot(installed, true), before) << "every folder and entry is given back";
    state.reset();
    ::umount2(small.c_str(), MNT_DETACH);
}

TEST_F(HostileArchiveTest, ATreeDeeperThanTheOpenFileLimitGoesAtOnceAndAtTheNextStart) {
    // The desktop's usual limit, for this process while it runs the update.
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit desktop = saved;
    desktop.rlim_cur = std::min<rlim_t>(1024, saved.rlim_max);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &desktop), 0);
    const Snapshot before = snapshot(root, false);
    // What an earlier run could not remove, and an archive refused after a member as deep as
    // the reader allows.
    makeDeep(root / ".staging-EARLIER", 2102);
    TarBuilder deep;
    deep.file(deepPath("deep", 250, "x"), "x").file("tesvano-1.2.0/../escaped", "x");
    addRelease(dir / "bad.xml", "1.2.0", TESVANO_PROBE_STABLE, true, "",
               [&](const fs::path& tar) { appendMembers(tar, deep); });
    server.answer("/Tesvano/appcast-x86_64.xml", {readAll(dir / "bad.xml")});
    makeState();
    EXPECT_FALSE(fs::exists(root / ".staging-EARLIER")) << "the start-up sweep finishes it";
    checkFinds("1.2.0");
    button("install")->click();
    ASSERT_TRUE(waitFor([&] { return phase() == Kind::error; }, std::chrono::seconds(30)));
    EXPECT_EQ(snapshot(root, false), before);
    state.reset();
    // And the next start finds nothing to finish.
    makeState();
    EXPECT_EQ(snapshot(root, false), before);
    state.reset();
    ::setrlimit(RLIMIT_NOFILE, &saved);
}

TEST_F(HostileArchiveTest, CancelOrQuitWhileTheReaderSkipsAGigabyteAnswersAtOnce) {
    // A folder that declares almost all the content an archive may hold: nothing to write, and
    // only decompressing to skip it.
    TarBuilder skipped;
    skipped.member("tesvano-1.2.0/skipped/", '5', 1000ull << 20, "", "", 0755, true);
    addRelease(dir / "bomb.xml", "1.2.0", TESVANO_PROBE_STABLE, true, "",
               [&](const fs::path& tar) { appendMembers(tar, skipped, 1000ull << 20); });
    server.answer("/Tesvano/appcast-x86_64.xml", {readAll(dir / "bomb.xml")});
    const Snapshot before = snapshot(root, false);
    for (const bool quit : {false, true}) {
        SCOPED_TRACE(quit ? "Quit" : "Cancel");
        makeState();
        checkFinds("1.2.0");
        button("install")->click();
        ASSERT_TRUE(waitFor([&] { return phase() == Kind::extracting; }, std::chrono::seconds(30)));
        QPushButton* cancel = button("cancel");
        ASSERT_NE(cancel, nullptr);
        QElapsedTimer answered;
        answered.start();
        if (quit) {
            state.reset();  // the program's state goes as it does on Quit
        } else {
            cancel->click();
            ASSERT_TRUE(waitFor(
                [&] {
                    return !state->updateWindow().window() ||
                           !state->updateWindow().window()->isVisible();
                },
                std::chrono::seconds(5)));
        }
        // A generous ceiling for "does not freeze"; bench/update_download_probe measures it.
        EXPECT_LT(answered.elapsed(), 200);
        // The reader stops on its own and takes its folder with it.
        EXPECT_TRUE(
            waitFor([&] { return snapshot(root, false) == before; }, std::chrono::seconds(30)));
        state.reset();
    }
}

// Whether the staging folder an unpacking runs in holds `name`.
bool stagingHolds(const fs::path& root, const fs::path& name) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root, ec)) {
        if (entry.path().filename().string().starts_with(".staging-") &&
            fs::symlink_status(entry.path() / name, ec).type() != fs::file_type::not_found) {
            return true;
        }
    }
    return false;
}

TEST_F(HostileArchiveTest, CancelOrQuitDuringTheLinkCheckOrAmongEmptyGzipMembersLeavesNothing) {
    // Eight thousand links (more than a release may hold, so that checking them takes a while
    // after the last is made), each naming thousands of steps that stay inside the version.
    unpackLimits.maxLinks = 8001;  // and the release's own
    TarBuilder links;
    std::string steps;
    while (steps.size() < 4000) {
        steps += "./";
    }
    for (int i = 0; i < 8000; ++i) {
        links.pax("linkpath", steps + "tesvano")
            .link("tesvano-1.2.0/bin/l" + std::to_string(i), "x");
    }
    // Two million empty gzip members between the first piece of the archive and the rest.
    std::string tar;
    auto emptyMembers = [&](const fs::path& archive) {
        const std::string empty = TarBuilder::compress("");
        std::string bytes = TarBuilder::compress(tar.substr(0, 1024));
        bytes.reserve(bytes.size() + empty.size() * 2'000'000 + tar.size());
        for (int i = 0; i < 2'000'000; ++i) {
            bytes += empty;
        }
        writeFile(archive, bytes + TarBuilder::compress(tar.substr(1024)));
    };
    const Snapshot before = snapshot(root, false);
    // Once the last link is made only the link check is left; the first piece of the other
    // archive holds the version folder.
    for (const bool members : {false, true}) {
        const fs::path reached = members ? "tesvano-1.2.0" : "tesvano-1.2.0/bin/l7999";
        if (members) {
            addRelease(
                dir / "members.xml", "1.2.0", TESVANO_PROBE_STABLE, true, "",
                [&](const fs::path& file) { tar = readFile(file); }, emptyMembers);
        } else {
            addRelease(dir / "links.xml", "1.2.0", TESVANO_PROBE_STABLE, true, "",
                       [&](const fs::path& file) { appendMembers(file, links); });
        }
        const char* feedFile = members ? "members.xml" : "links.xml";
        server.answer("/Tesvano/appcast-x86_64.xml", {readAll(dir / feedFile)});
        for (const bool quit : {false, true}) {
            SCOPED_TRACE(std::string(feedFile) + (quit ? ", Quit" : ", Cancel"));
            makeState();
            checkFinds("1.2.0");
            button("install")->click();
            ASSERT_TRUE(
                waitFor([&] { return phase() == Kind::extracting; }, std::chrono::seconds(30)));
            ASSERT_TRUE(
                waitFor([&] { return stagingHolds(root, reached) || phase() != Kind::extracting; },
                        std::chrono::seconds(30)));
            ASSERT_EQ(phase(), Kind::extracting) << "the unpacking was over before it was reached";
            if (quit) {
                state.reset();
            } else {
                button("cancel")->click();
            }
            // The worker stops on its own and takes its folder with it: nothing is installed.
            EXPECT_TRUE(
                waitFor([&] { return snapshot(root, false) == before; }, std::chrono::seconds(30)));
            state.reset();
        }
    }
}

}  // namespace
}  // namespace tesvano::test
