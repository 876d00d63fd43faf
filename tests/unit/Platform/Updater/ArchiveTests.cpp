// The update archive reader against archives a release would never hold, and the removal of
// what it refuses, however deep.
#include <grp.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/Updater/Archive.h"
#include "Platform/Updater/GzipStream.h"
#include "Platform/Updater/Installation.h"
#include "Platform/Updater/TreeRemoval.h"
#include "Platform/Updater/UnpackedTree.h"
#include "tests/support/TarBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace tesvano::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::TarBuilder;

// A file holding `bytes`, open for reading, as the downloaded archive is.
class ArchiveFile {
public:
    ArchiveFile(const fs::path& path, const std::string& bytes) {
        test::writeFile(path, bytes);
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    ~ArchiveFile() { ::close(fd_); }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

std::string deepName(int folders, const std::string& leaf) {
    std::string name = "tesvano-1.2.0";
    for (int i = 0; i < folders; ++i) {
        name += "/d";
    }
    return name + "/" + leaf;
}

// What tar itself makes of `setup` (run in an empty folder holding tesvano-1.2.0/), gzipped.
std::string realTar(const fs::path& work, const std::string& setup, const std::string& options) {
    fs::remove_all(work);
    fs::create_directories(work / "tesvano-1.2.0" / "bin");
    const std::string command = "cd '" + work.string() + "' && " + setup + " && tar " + options +
                                " -czf archive.tgz tesvano-1.2.0";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return test::readFile(work / "archive.tgz");
}

struct Case {
    const char* name;
    std::function<std::string(const fs::path& work)> archive;
    std::function<void(ArchiveLimits&)> limits;
    std::string refusal;  // a part of the error, or empty when the archive unpacks
    std::function<void(const fs::path& unpacked)> check;
};

std::string gz(TarBuilder builder) {
    return builder.end().gzip();
}

TarBuilder release() {
    TarBuilder tar;
    tar.folder("tesvano-1.2.0/")
        .folder("tesvano-1.2.0/bin/")
        .file("tesvano-1.2.0/bin/tesvano", "#!/bin/sh\n");
    return tar;
}

// A GNU long name (or, as 'K', a long link target) for the next member, exactly these bytes.
TarBuilder& gnuLong(TarBuilder& tar, const std::string& name, char type = 'L') {
    return tar.member("././@LongLink", type, name.size(), name);
}

// Links l0 -> l1 -> ... -> l<count - 1> -> bin/tesvano in the version folder.
TarBuilder linkChain(int count) {
    TarBuilder tar = release();
    for (int i = 0; i < count; ++i) {
        tar.link("tesvano-1.2.0/l" + std::to_string(i),
                 i + 1 < count ? "l" + std::to_string(i + 1) : "bin/tesvano");
    }
    return tar;
}

TEST(ArchiveReader, TakesWhatItUnderstandsAndRefusesTheRestLeavingNothing) {
    const Case cases[] = {
        {"a plain release",
         [](auto&) { return gz(release()); },
         {},
         "",
         [](const fs::path& top) {
             EXPECT_EQ(test::readFile(top / "bin" / "tesvano"), "#!/bin/sh\n");
         }},
        {"folders made on the way count as entries",
         [](auto&) { return gz(release().file(deepName(30, "x"), "x")); },
         [](ArchiveLimits& l) { l.maxEntries = 20; },
         "more than 20 files, folders and links",
         {}},
        {"a name deeper than allowed",
         [](auto&) { return gz(release().pax("path", deepName(300, "x")).file("long", "x")); },
         {},
         "more than 256 folders deep",
         {}},
        {"a folder bomb of pax names stops at the entry limit",
         [](auto&) {
             TarBuilder tar = release();
             for (int i = 0; i < 61; ++i) {
                 std::string name = "tesvano-1.2.0/" + std::to_string(i);
                 for (int j = 0; j < 249; ++j) {
                     name += "/d";
                 }
                 tar.pax("path", name + "/x").file("long", "x");
             }
             return gz(tar);
         },
         [](ArchiveLimits& l) { l.maxEntries = 2000; },
         "more than 2000 files, folders and links",
         {}},
        {"no file entries (inodes) to spare",
         [](auto&) { return gz(release()); },
         [](ArchiveLimits& l) { l.keepFreeInodes = ~0ull; },
         "not enough free file entries",
         {}},
        {"no space to spare",
         [](auto&) { return gz(release()); },
         [](ArchiveLimits& l) { l.keepFree = ~0ull >> 1; },
         "not enough free space",
         {}},
        {"a folder that declares 8 GiB of content",
         [](auto&) {
             return release()
                 .pax("size", std::to_string(8ull << 30))
                 .member("tesvano-1.2.0/big/", '5', 0, "", "", 0755, true)
                 .gzip();
         },
         {},
         "unpacks to more than 1 GiB",
         {}},
        {"declared content counts with what is written",
         [](auto&) {
             return gz(release()
                           .folder("tesvano-1.2.0/some/", 3000)
                           .file("tesvano-1.2.0/f", std::string(2000, 'f')));
         },
         [](ArchiveLimits& l) { l.maxBytes = 4096; },
         "unpacks to more than 4 KiB",
         {}},
        {"a pax size stands for the header's",
         [](auto&) {
             return gz(release().pax("size", "5").member("tesvano-1.2.0/sized", '0', 0, "hello"));
         },
         {},
         "",
         [](const fs::path& top) { EXPECT_EQ(test::readFile(top / "sized"), "hello"); }},
        {"a pax size that is no number",
         [](auto&) { return gz(release().pax("size", "5x").file("tesvano-1.2.0/sized", "hello")); },
         {},
         "unreadable size",
         {}},
        {"a damaged pax record",
         [](auto&) {
             return gz(
                 release().member("PaxHeaders/x", 'x', 7, "99 a=b\n").file("tesvano-1.2.0/f", ""));
         },
         {},
         "damaged extended header",
         {}},
        {"a sparse member of tar's pax format",
         [](const fs::path& work) {
             return realTar(work,
                            "truncate -s 1M tesvano-1.2.0/bin/tesvano && "
                            "echo end >> tesvano-1.2.0/bin/tesvano",
                            "--format=pax --sparse");
         },
         {},
         "sparse file, which cannot be unpacked",
         {}},
        {"a sparse member of the GNU format",
         [](const fs::path& work) {
             return realTar(work,
                            "truncate -s 1M tesvano-1.2.0/bin/tesvano && "
                            "echo end >> tesvano-1.2.0/bin/tesvano",
                            "--format=gnu --sparse");
         },
         {},
         "sparse file, which cannot be unpacked",
         {}},
        {"a hard link",
         [](const fs::path& work) {
             return realTar(
                 work, "echo x > tesvano-1.2.0/bin/a && ln tesvano-1.2.0/bin/a tesvano-1.2.0/bin/b",
                 "");
         },
         {},
         "holds a hard link, which is not unpacked",
         {}},
        {"a kind no tar defines",
         [](auto&) { return gz(release().member("tesvano-1.2.0/odd", 'Z', 0)); },
         {},
         "an unknown kind (type Z)",
         {}},
        {"a file without a name",
         [](auto&) { return gz(release().file("./", "x")); },
         {},
         "member without a name",
         {}},
        {"a plain tar",
         [](auto&) { return release().end().tar(); },
         {},
         "not compressed with gzip",
         {}},
        {"garbage after the gzip stream",
         [](auto&) { return gz(release()) + "garbage"; },
         {},
         "data after its gzip stream",
         {}},
        {"a cut gzip trailer",
         [](auto&) {
             const std::string whole = gz(release());
             return whole.substr(0, whole.size() - 3);
         },
         {},
         "cut short",
         {}},
        {"two gzip streams back to back, as gzip reads them",
         [](auto&) {
             const std::string tar = release().end().tar();
             return TarBuilder::compress(tar.substr(0, 1024)) +
                    TarBuilder::compress(tar.substr(1024));
         },
         {},
         "",
         {}},
        {"data after the tar's end",
         [](auto&) { return TarBuilder::compress(release().end().tar() + "more"); },
         {},
         "data after its end",
         {}},
        {"a link to nothing inside the folder",
         [](auto&) { return gz(release().link("tesvano-1.2.0/bin/lib", "missing.so")); },
         {},
         "a link to nothing",
         {}},
        {"a link out of the folder",
         [](auto&) { return gz(release().link("tesvano-1.2.0/bin/lib", "../../elsewhere")); },
         {},
         "leads out of it",
         {}},
        {"a link round in a circle",
         [](auto&) {
             return gz(release().link("tesvano-1.2.0/a", "b").link("tesvano-1.2.0/b", "a"));
         },
         {},
         "round in a circle",
         {}},
        // A pax value may hold NUL bytes, where the system's C strings end: "..\0" is "..".
        {"a pax path of NUL-bearing steps to a file",
         [](auto&) { return gz(release().pax("path", "..\0/..\0/escaped-file"s).file("x", "x")); },
         {},
         "a name with a NUL byte in it: ..\\0/..\\0/escaped-file",
         {}},
        {"a pax path of NUL-bearing steps to a folder",
         [](auto&) { return gz(release().pax("path", "..\0/escaped-folder/"s).folder("x/")); },
         {},
         "a name with a NUL byte in it",
         {}},
        {"a pax path of NUL-bearing steps to a link",
         [](auto&) {
             return gz(release().pax("path", "tesvano-1.2.0/..\0/escaped-link"s).link("x", "."));
         },
         {},
         "a name with a NUL byte in it",
         {}},
        {"a NUL in a step that is not \"..\"",
         [](auto&) {
             return gz(release().pax("path", "tesvano-1.2.0/bin\0x/tesvano2"s).file("x", "x"));
         },
         {},
         "a name with a NUL byte in it",
         {}},
        {"a pax link path of NUL-bearing steps",
         [](auto&) {
             return gz(release()
                           .pax("linkpath", "..\0/..\0/..\0/escaped"s)
                           .link("tesvano-1.2.0/bin/lib", "x"));
         },
         {},
         "a link with a NUL byte in what it names",
         {}},
        {"a GNU long name with a NUL inside",
         [](auto&) {
             TarBuilder tar = release();
             return gz(gnuLong(tar, "..\0/escaped-long\0"s).file("x", "x"));
         },
         {},
         "a name with a NUL byte in it",
         {}},
        {"a GNU long link target with a NUL inside",
         [](auto&) {
             TarBuilder tar = release();
             return gz(gnuLong(tar, "..\0/..\0/escaped\0"s, 'K').link("tesvano-1.2.0/l", "x"));
         },
         {},
         "a link with a NUL byte in what it names",
         {}},
        {"a GNU long name with its closing NUL",
         [](auto&) {
             TarBuilder tar = release();
             return gz(gnuLong(tar, "tesvano-1.2.0/long-name\0\0"s).file("x", "long"));
         },
         {},
         "",
         [](const fs::path& top) { EXPECT_EQ(test::readFile(top / "long-name"), "long"); }},
        {"a link naming more than allowed",
         [](auto&) { return gz(release().link("tesvano-1.2.0/l", std::string(61, '.') + "/bin")); },
         [](ArchiveLimits& l) { l.maxLinkLength = 64; },
         "a link naming more than 64 bytes",
         {}},
        {"more links than allowed",
         [](auto&) { return gz(linkChain(3)); },
         [](ArchiveLimits& l) { l.maxLinks = 2; },
         "more than 2 links",
         {}},
        {"a chain of 40 links, as many as the system follows",
         [](auto&) { return gz(linkChain(40)); },
         {},
         "",
         [](const fs::path& top) { EXPECT_EQ(test::readFile(top / "l0"), "#!/bin/sh\n"); }},
        {"a chain of 41 links",
         [](auto&) { return gz(linkChain(41)); },
         {},
         "l0 -> l1",  // the link that goes too far, whichever is checked first
         {}},
        {"a \"..\" after a link leads up from where the link led",
         [](auto&) {
             return gz(release()
                           .folder("tesvano-1.2.0/deep/sub/")
                           .file("tesvano-1.2.0/deep/x", "deep x")
                           .link("tesvano-1.2.0/l", "deep/sub")
                           .link("tesvano-1.2.0/bin/m", "../l/../x"));
         },
         {},
         "",
         [](const fs::path& top) { EXPECT_EQ(test::readFile(top / "bin" / "m"), "deep x"); }},
        {"a \"..\" after a link is not taken back along the link",
         [](auto&) {
             return gz(release()
                           .folder("tesvano-1.2.0/deep/sub/")
                           .file("tesvano-1.2.0/x", "top x")
                           .link("tesvano-1.2.0/l", "deep/sub")
                           .link("tesvano-1.2.0/bin/m", "../l/../x"));
         },
         {},
         "a link to nothing (what it names is not in the archive): bin/m -> ../l/../x",
         {}},
        {"a link out and back in by the folder's name",
         [](auto&) {
             return gz(release().link("tesvano-1.2.0/bin/lib", "../../tesvano-1.2.0/bin/tesvano"));
         },
         {},
         "leads out of it",
         {}},
        {"a link through a file as if it were a folder",
         [](auto&) { return gz(release().link("tesvano-1.2.0/bin/lib", "tesvano/")); },
         {},
         "a link to nothing",
         {}},
        {"a folder named again counts as an entry",
         [](auto&) {
             return gz(release().folder("tesvano-1.2.0/bin/").folder("tesvano-1.2.0/bin/"));
         },
         [](ArchiveLimits& l) { l.maxEntries = 4; },
         "more than 4 files, folders and links",
         {}},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path into = dir / "into";
        fs::create_directories(into);
        ArchiveFile file(dir / "archive", c.archive(dir / "work"));
        ArchiveLimits limits;
        if (c.limits) {
            c.limits(limits);
        }
        const auto result = unpackArchive(file.fd(), into, limits);
        const std::string& refusal = c.refusal;
        struct statvfs space {};
        if (limits.keepFreeInodes == ~0ull && ::statvfs(into.c_str(), &space) == 0 &&
            space.f_files == 0) {
            continue;  // a file system that does not count its file entries
        }
        if (refusal.empty()) {
            ASSERT_TRUE(result) << result.error();
            if (c.check) {
                c.check(unpackedVersionFolder(into));
            }
        } else {
            ASSERT_FALSE(result);
            EXPECT_NE(result.error().find(refusal), std::string::npos) << result.error();
            EXPECT_TRUE(fs::is_empty(into)) << "nothing is left";
        }
        ASSERT_TRUE(removeTree(into));
    }
    for (const char* escaped :
         {"escaped", "escaped-file", "escaped-folder", "escaped-link", "escaped-long"}) {
        EXPECT_FALSE(fs::exists(dir / escaped)) << escaped;
        EXPECT_FALSE(fs::is_symlink(dir / escaped)) << escaped;
        EXPECT_FALSE(fs::exists(dir.path().parent_path() / escaped)) << escaped;
    }
}

// Thousands of links each naming thousands of steps inside the folder: followed once each,
// and the flag is read while they are.
TEST(ArchiveReader, TheLinkCheckTakesLongInTreeLinksAndReadsTheCancelFlag) {
    UnpackedTree tree;
    const int version = tree.add(UnpackedTree::top, "tesvano-1.2.0", UnpackedTree::Kind::folder);
    const int bin = tree.add(version, "bin", UnpackedTree::Kind::folder);
    tree.add(bin, "tesvano", UnpackedTree::Kind::file);
    std::string target;
    while (target.size() < 4000) {
        target += "./bin/.././";
    }
    tree.add(version, "b", UnpackedTree::Kind::link, "bin");
    for (int i = 0; i < 4095; ++i) {
        tree.add(version, "l" + std::to_string(i), UnpackedTree::Kind::link, target + "b/tesvano");
    }
    const auto checked = tree.linksStayInside(nullptr);
    EXPECT_TRUE(checked) << checked.error();
    const std::atomic<bool> cancelled{true};
    const auto result = tree.linksStayInside(&cancelled);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), "cancelled");
}

// Empty gzip members hand out nothing: a read that runs through millions of them still stops.
TEST(ArchiveReader, ReadingThroughManyEmptyGzipMembersStopsWhenCancelled) {
    test::TempDir dir;
    std::string members;
    const std::string empty = TarBuilder::compress("");
    for (int i = 0; i < 200000; ++i) {
        members += empty;
    }
    ArchiveFile file(dir / "archive", members + TarBuilder::compress("data"));
    std::atomic<bool> cancelled{false};
    for (const bool cancelling : {false, true}) {
        SCOPED_TRACE(cancelling ? "cancelled" : "read through");
        cancelled = cancelling;
        GzipStream stream(file.fd(), 1 << 20, &cancelled);
        ASSERT_TRUE(stream.open());
        char data[4] = {};
        const auto read = stream.read(data, sizeof data);
        if (cancelling) {
            ASSERT_FALSE(read);
            EXPECT_EQ(read.error(), "cancelled");
        } else {
            ASSERT_TRUE(read) << read.error();
            EXPECT_EQ(std::string(data, sizeof data), "data");
        }
    }
}

// Content that is only skipped (a folder declaring it) still reads the cancel flag.
TEST(ArchiveReader, CancellingStopsWhileSkippingDeclaredContent) {
    test::TempDir dir;
    fs::create_directories(dir / "into");
    ArchiveFile file(dir / "archive", gz(release().folder("tesvano-1.2.0/skipped/", 600ull << 20)));
    std::atomic<bool> cancelled{false};
    std::expected<void, std::string> result;
    std::thread reader([&] { result = unpackArchive(file.fd(), dir / "into", {}, &cancelled); });
    // The file comes before the skipped content.
    EXPECT_TRUE(test::waitUntil(test::every(std::chrono::milliseconds(1)), [&] {
        return fs::exists(dir / "into" / "tesvano-1.2.0" / "bin" / "tesvano");
    }));
    cancelled = true;
    reader.join();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), "cancelled");
    EXPECT_TRUE(fs::is_empty(dir / "into"));
}

// Going away does not wait: the worker, still running, clears its folder once it stops.
TEST(ArchiveReader, AnAbandonedUnpackingClearsItsFolderItself) {
    test::TempDir dir;
    const fs::path staging = dir / ".staging-x";
    fs::create_directories(staging);
    ArchiveFile file(dir / "archive", gz(release().folder("tesvano-1.2.0/skipped/", 600ull << 20)));
    ManualRunLoop loop;
    bool reported = false;
    auto unpacker = ArchiveUnpacker::start(loop, file.fd(), staging,
                                           [&](ArchiveUnpacker::Result) { reported = true; });
    ASSERT_NE(unpacker, nullptr);
    ASSERT_TRUE(test::waitUntil(test::every(std::chrono::milliseconds(1)), [&] {
        return fs::exists(staging / "tesvano-1.2.0" / "bin" / "tesvano");
    }));
    EXPECT_TRUE(unpacker->abandon()) << "the worker still ran and keeps the folder";
    unpacker.reset();
    EXPECT_TRUE(test::waitUntil(test::every(std::chrono::milliseconds(5)),
                                [&] { return !fs::exists(staging); }));
    loop.pumpFds(std::chrono::milliseconds(0));
    EXPECT_FALSE(reported);
}

// A chain of `depth` folders below `top`, made without holding a descriptor per level.
void makeDeep(const fs::path& top, int depth) {
    fs::create_directories(top);
    int at = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < depth; ++i) {
        ::mkdirat(at, "d", 0755);
        if (i % 100 == 0) {
            ::close(::openat(at, "f", O_CREAT | O_WRONLY, 0644));
        }
        const int next = ::openat(at, "d", O_RDONLY | O_DIRECTORY);
        ::close(at);
        at = next;
    }
    ::close(at);
}

// Runs `work` in a child limited to `files` open descriptors; its exit code.
int withFewDescriptors(rlim_t files, const std::function<bool()>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit limit{files, files};
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::_exit(work() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(TreeRemoval, RemovesTreesDeeperThanTheOpenFileLimit) {
    test::TempDir dir;
    struct Shape {
        const char* name;
        int depth;
    };
    for (const auto& [name, depth] :
         {Shape{"shallow", 3}, Shape{"deeper than the open-file limit", 2100}}) {
        SCOPED_TRACE(name);
        const fs::path top = dir / "tree";
        makeDeep(top, depth);
        EXPECT_EQ(withFewDescriptors(64, [&] { return bool(removeTree(top)); }), 0);
        EXPECT_FALSE(fs::exists(top));
    }
    // Emptying keeps the folder itself; a missing one is nothing to do.
    makeDeep(dir / "kept", 50);
    EXPECT_TRUE(emptyFolder(dir / "kept"));
    EXPECT_TRUE(fs::is_empty(dir / "kept"));
    EXPECT_TRUE(removeTree(dir / "absent"));
    // Not followed: a link is removed, not what it leads to.
    fs::create_directories(dir / "target");
    fs::create_directory_symlink(dir / "target", dir / "link");
    EXPECT_TRUE(removeTree(dir / "link"));
    EXPECT_TRUE(fs::exists(dir / "target"));
}

// A folder it may not read is opened up to be removed, as it is ours; a link swapped in for it
// meanwhile (by the same user) never has what it leads to opened up instead.
TEST(TreeRemoval, OpensUpAnUnreadableFolderButNeverWhatALinkSwappedInForItLeadsTo) {
    test::TempDir dir;
    // Root reads any folder: the removal is run as a user, who owns all of it.
    const uid_t user = ::geteuid() == 0 ? 65534 : ::geteuid();
    const fs::path work = dir / "work";
    const fs::path outside = dir / "outside";
    fs::create_directories(work);
    test::writeFile(outside, "kept");
    fs::permissions(dir.path(), fs::perms(0755));
    ::chmod(outside.c_str(), 0600);
    ASSERT_EQ(::chown(work.c_str(), user, user), 0);
    ASSERT_EQ(::chown(outside.c_str(), user, user), 0);
    const int status = withFewDescriptors(256, [&] {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0)) {
            return false;
        }
        for (int round = 0; round < 1000; ++round) {
            const fs::path tree = work / ("tree" + std::to_string(round));
            const fs::path locked = tree / "locked";
            const fs::path swapped = tree / "swapped";
            fs::create_directories(locked);
            test::writeFile(locked / "f", "f");
            fs::create_symlink(outside, swapped);
            ::chmod(locked.c_str(), 0);
            std::atomic<bool> stop{false};
            std::thread swapper([&] {
                while (!stop) {
                    ::renameat2(AT_FDCWD, locked.c_str(), AT_FDCWD, swapped.c_str(),
                                RENAME_EXCHANGE);
                }
            });
            static_cast<void>(removeTree(tree));  // may meet the link or the folder, or both
            stop = true;
            swapper.join();
            struct stat info {};
            if (::stat(outside.c_str(), &info) != 0 || (info.st_mode & 07777) != 0600) {
                std::fprintf(stderr, "round %d: the file outside is now %o\n", round,
                             info.st_mode & 07777);
                return false;
            }
        }
        // Without a race the unreadable folder goes with the rest.
        const fs::path plain = work / "plain";
        fs::create_directories(plain / "locked" / "inner");
        ::chmod((plain / "locked").c_str(), 0);
        return removeTree(plain) && !fs::exists(plain);
    });
    EXPECT_EQ(status, 0);
}

TEST(TreeRemoval, TheStartUpSweepFinishesDeepStagingFoldersAnEarlierRunLeft) {
    test::TempDir dir;
    const fs::path root = dir / "tesvano";
    fs::create_directories(root);
    makeDeep(root / ".staging-abc123", 2102);
    makeDeep(root / ".staging-def456" / "tesvano-1.2.0", 10);
    fs::create_directories(root / "1.0");
    EXPECT_EQ(withFewDescriptors(1024,
                                 [&] {
                                     Installation(root).sweep();
                                     return true;
                                 }),
              0);
    EXPECT_FALSE(fs::exists(root / ".staging-abc123"));
    EXPECT_FALSE(fs::exists(root / ".staging-def456"));
    EXPECT_TRUE(fs::exists(root / "1.0"));
}

}  // namespace
}  // namespace tesvano::platform
