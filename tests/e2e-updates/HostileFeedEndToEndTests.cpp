// The update road against someone who controls the feed or the network, or who planted files
// where the updater looks: changed feeds, a gigabyte announced, a release that cannot start,
// a home folder that merely holds a `current` link, and what the feed's texts may do on
// screen.
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <QDesktopServices>
#include <QTest>
#include <fstream>

#include "tests/e2e-updates/UpdateFixture.h"

namespace tesvano::test {
namespace {

using HostileFeedTest = SelfUpdateTest;

// Whatever reaches the desktop's URL opener is caught here instead.
class OpenedURLs final : public QObject {
    Q_OBJECT
public:
    explicit OpenedURLs(const QStringList& schemes) : schemes_(schemes) {
        for (const auto& scheme : schemes_) {
            QDesktopServices::setUrlHandler(scheme, this, "open");
        }
    }
    ~OpenedURLs() override {
        for (const auto& scheme : schemes_) {
            QDesktopServices::unsetUrlHandler(scheme);
        }
    }
    QStringList opened;

public slots:
    void open(const QUrl& url) { opened << url.toString(); }

private:
    QStringList schemes_;
};

// The most memory the process ever held (VmHWM), in bytes.
std::uint64_t peakMemory() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) {
            return std::stoull(line.substr(6)) * 1024;
        }
    }
    return 0;
}

TEST_F(HostileFeedTest, AFeedChangedWithoutTheReleaseKeyIsRefusedBeforeAnythingInItIsUsed) {
    std::string relabelled = feed;
    // An older, validly signed archive offered as a newer version.
    relabelled.replace(relabelled.find("<version>1.2.0</version>"), 24, "<version>9.0</version>");
    std::string channelDropped = feed;
    channelDropped.erase(channelDropped.find("<channel>beta</channel>"), 23);
    std::string otherMachine = feedBody();
    otherMachine.replace(otherMachine.find(std::string(platform::thisArchitecture())),
                         platform::thisArchitecture().size(), "aarch64");
    struct Case {
        const char* name;
        std::string feed;
    };
    const Case cases[] = {
        {"relabelled archive", relabelled},
        {"channel dropped", channelDropped},
        {"signed with another key", resigned(feedBody(), "other.key")},
        {"unsigned", feedBody()},
        {"another machine's feed, signed", resigned(otherMachine, "release.key")},
    };
    makeState();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        alerts.clear();
        server.answer("/Tesvano/appcast-x86_64.xml", {c.feed});
        state->updateController().checkForUpdates();
        ASSERT_TRUE(waitFor([&] { return !alerts.empty(); }, std::chrono::seconds(10)));
        EXPECT_EQ(phase(), Kind::error);
        EXPECT_EQ(
            alerts[0].informativeText.isEmpty() ? alerts[0].message : alerts[0].informativeText,
            QStringLiteral("The update couldn't be verified. Please try again later."));
        EXPECT_EQ(server.hits("/1.2.0") + server.hits("/1.3.0-beta.1"), 0);
        EXPECT_EQ(platform::Installation(root).currentVersion(), "1.0");
        state->updateWindow().closeWindow();
    }
}

TEST_F(HostileFeedTest, ARemoteFeedCannotSendTheUpdaterToPlainHttpOnThisMachine) {
    RemoteSite site;
    std::string remoteFeed = feedBody();
    remoteFeed.replace(remoteFeed.find(server.url("/1.2.0")), server.url("/1.2.0").size(),
                       site.url("/redirect/1.2.0"));
    site.answer("/feed", resigned(remoteFeed, "release.key"));
    site.answer("/1.2.0", archives["1.2.0"]);
    struct Case {
        const char* name;
        std::string feedGoesTo;
        std::string archiveGoesTo;
        bool arrives;
    };
    const Case cases[] = {
        {"https on the remote site", site.url("/feed"), site.url("/1.2.0"), true},
        {"feed to loopback http", server.url("/Tesvano/appcast-x86_64.xml"), "", false},
        {"archive to loopback http", site.url("/feed"), server.url("/1.2.0"), false},
    };
    feedAddress = site.url("/redirect/feed");
    makeState();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        site.answer("/redirect/feed", c.feedGoesTo);
        site.answer("/redirect/1.2.0", c.archiveGoesTo);
        alerts.clear();
        state->updateController().checkForUpdates();
        ASSERT_TRUE(waitFor([&] { return !alerts.empty() || phase() == Kind::found; },
                            std::chrono::seconds(10)));
        bool arrived = false;
        if (phase() == Kind::found) {
            button("install")->click();
            ASSERT_TRUE(
                waitFor([&] { return phase() == Kind::readyToInstall || phase() == Kind::error; },
                        std::chrono::seconds(20)));
            arrived = phase() == Kind::readyToInstall;
            button(arrived ? "later" : "close")->click();
        }
        EXPECT_EQ(arrived, c.arrives);
        EXPECT_EQ(server.hits("/Tesvano/appcast-x86_64.xml") + server.hits("/1.2.0"), 0);
    }
}

TEST_F(HostileFeedTest, AFeedOlderThanOneAlreadyReadIsRefused) {
    const std::string body = feedBody();
    const auto at = body.find(" published=\"");
    ASSERT_NE(at, std::string::npos);
    std::string older = body;
    older.replace(at + 12, 20, "2026-01-01T00:00:00Z");
    std::string undated = body;
    undated.erase(at, 33);
    struct Case {
        const char* name;
        std::string feed;
        bool read;
    };
    const Case cases[] = {
        {"without a time, none read yet", resigned(undated, "release.key"), true},
        {"as published", feed, true},
        {"as published, again", feed, true},
        {"published before", resigned(older, "release.key"), false},
        {"without a time, one with a time read", resigned(undated, "release.key"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.answer("/Tesvano/appcast-x86_64.xml", {c.feed});
        makeState();  // what was read outlives the program
        alerts.clear();
        state->updateController().checkForUpdates();
        ASSERT_TRUE(waitFor([&] { return !alerts.empty() || phase() == Kind::found; },
                            std::chrono::seconds(10)));
        EXPECT_EQ(phase() == Kind::found, c.read);
        if (!c.read) {
            EXPECT_EQ(alerts[0].informativeText,
                      QStringLiteral("The update couldn't be verified. Please try again later."));
        }
        state.reset();
    }
}

TEST_F(HostileFeedTest, AFeedDatedInTheFutureIsRefusedAndDoesNotShutOutLaterFeeds) {
    std::string ahead = feedBody();
    const auto at = ahead.find(" published=\"");
    ASSERT_NE(at, std::string::npos);
    ahead.replace(at + 12, 20, "2099-01-01T00:00:00Z");
    server.answer("/Tesvano/appcast-x86_64.xml", {resigned(ahead, "release.key")});
    makeState();
    state->updateController().checkForUpdates();
    ASSERT_TRUE(waitFor([&] { return !alerts.empty() || phase() == Kind::found; },
                        std::chrono::seconds(10)));
    EXPECT_EQ(phase(), Kind::error);
    ASSERT_FALSE(alerts.empty());
    EXPECT_EQ(alerts[0].informativeText,
              QStringLiteral("The update couldn't be verified. Please try again later."));
    EXPECT_FALSE(defaults.real(platform::AppcastUpdater::newestFeedKey))
        << "the refused feed's time is not kept";
    state.reset();
    // The feed as published today is read afterwards, by the next start too.
    server.answer("/Tesvano/appcast-x86_64.xml", {feed});
    makeState();
    checkFinds("1.2.0");
}

TEST_F(HostileFeedTest, AHugeAnnouncedLengthIsRefusedWithoutDownloadingOrGrowing) {
    // A signed item whose archive is said to be a gigabyte (the server would send it all).
    std::string body = feedBody();
    const std::string length = "length=\"" + std::to_string(archives["1.2.0"].size()) + "\"";
    body.replace(body.find(length, body.find(server.url("/1.2.0"))), length.size(),
                 "length=\"1073741824\"");
    server.answer("/Tesvano/appcast-x86_64.xml", {resigned(body, "release.key")});
    server.answer("/1.2.0", {"", LoopbackServer::Mode::generated, 1ull << 30});
    makeState();
    checkFinds("1.2.0");
    const std::uint64_t before = peakMemory();
    button("install")->click();
    ASSERT_TRUE(waitFor([&] { return phase() == Kind::error; }, std::chrono::seconds(60)))
        << "phase " << static_cast<int>(phase());
    EXPECT_EQ(windowText("failureMessage"),
              QStringLiteral("The update couldn't be downloaded. Please check your internet "
                             "connection and try again."));
    EXPECT_EQ(server.hits("/1.2.0"), 0);
    EXPECT_LT(peakMemory() - before, 64u << 20);
    EXPECT_FALSE(fs::exists(root / "1.2.0"));
}

TEST_F(HostileFeedTest, ANewVersionThatDiesBeforeConfirmingIsRolledBackAndOfferedOnlyWhenAsked) {
    struct Case {
        const char* name;
        std::string program;
    };
    const Case cases[] = {
        {"ends at once", "#!/bin/sh\nexit 3\n"},
        {"cannot be executed", "not a program at all\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path badFeed = dir / (std::string(c.name) + ".xml");
        addRelease(badFeed, "1.5.0", c.program, false);
        server.answer("/Tesvano/appcast-x86_64.xml", {readAll(badFeed)});
        makeState();
        checkFinds("1.5.0");
        button("install")->click();
        ASSERT_TRUE(
            waitFor([&] { return phase() == Kind::readyToInstall; }, std::chrono::seconds(20)));
        button("install")->click();  // "Install and Relaunch"
        EXPECT_EQ(terminations, 1);
        // The relaunch step starts 1.0 again once the new version has failed.
        ASSERT_TRUE(waitFor([&] { return !reported().empty(); }, std::chrono::seconds(30)));
        EXPECT_EQ(reported(), "{\"version\":\"1.2.0\",\"verdict\":\"nothing pending\"}\n")
            << "the stand-in for 1.0 reports the version it was built as";
        EXPECT_EQ(platform::Installation(root).currentVersion(), "1.0");
        EXPECT_FALSE(fs::exists(root / "1.5.0"));
        EXPECT_EQ(platform::Installation(root).failedVersions(), std::set<std::string>{"1.5.0"});

        // The same feed again: a check the user asks for offers it again (a background one
        // passes over it).
        state.reset();
        startStandIn();
        terminations = 0;
        makeState();
        checkFinds("1.5.0");
        state.reset();
        fs::remove(report);
        fs::remove(root / "failed-versions");
        endStandIn();
        startStandIn();
    }
}

TEST_F(HostileFeedTest, ASignedArchiveThatReachesOutOrFloodsTheDiskIsRefusedLeavingNothing) {
    // Members added to the release's tar file: `make` fills the version folder to add.
    auto adding = [this](std::function<void(const fs::path& top)> make) {
        return [this, make](const fs::path& tar) {
            fs::remove_all(dir / "more");
            fs::create_directories(dir / "more" / "tesvano-1.2.0");
            make(dir / "more" / "tesvano-1.2.0");
            run("tar -rf " + quoted(tar) + " -C " + quoted(dir / "more") + " tesvano-1.2.0");
        };
    };
    // The bomb fills a small tmpfs where one can be mounted, else it meets the size limit.
    const fs::path small = dir / "small";
    fs::create_directories(small);
    const bool tmpfs = ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=32m") == 0;
    const std::pair<const char*, std::function<void(const fs::path&)>> cases[] = {
        {"absolute link",
         adding([](const fs::path& top) { fs::create_symlink("/etc/hostname", top / "x"); })},
        {"link out",
         adding([](const fs::path& top) { fs::create_symlink("../../1.0", top / "x"); })},
        {"link out and back in by the folder's name", adding([](const fs::path& top) {
             fs::create_symlink(".", top / "here");
             fs::create_symlink("here/../tesvano-1.2.0/bin", top / "x");
         })},
        {"file through a link",
         [&](const fs::path& tar) {
             adding([](const fs::path& top) { fs::create_symlink("../..", top / "up"); })(tar);
             adding([](const fs::path& top) {
                 fs::create_directories(top / "up");
                 std::ofstream(top / "up" / "planted") << "x";
             })(tar);
         }},
        {"tar bomb", adding([](const fs::path& top) {
             std::ofstream(top / "zeros").close();
             fs::resize_file(top / "zeros", 64ull << 20);
         })},
        {"link to nothing",
         adding([](const fs::path& top) { fs::create_symlink("missing.so", top / "x"); })},
        {"sparse file",
         [&](const fs::path& tar) {
             fs::remove_all(dir / "more");
             fs::create_directories(dir / "more" / "tesvano-1.2.0");
             std::ofstream(dir / "more" / "tesvano-1.2.0" / "holes").close();
             fs::resize_file(dir / "more" / "tesvano-1.2.0" / "holes", 1 << 20);
             std::ofstream(dir / "more" / "tesvano-1.2.0" / "holes", std::ios::app) << "end";
             run("tar --sparse -rf " + quoted(tar) + " -C " + quoted(dir / "more") +
                 " tesvano-1.2.0");
         }},
        {"too many files", adding([](const fs::path& top) {
             for (int i = 0; i < 300; ++i) {
                 std::ofstream(top / std::to_string(i));
             }
         })},
    };
    for (const auto& [name, extra] : cases) {
        SCOPED_TRACE(name);
        fs::path installed = root;
        unpackLimits = {.maxEntries = 200};
        if (std::string_view(name) == "tar bomb") {
            if (tmpfs) {
                installed = small / "tesvano";
                fs::copy(root, installed,
                         fs::copy_options::recursive | fs::copy_options::copy_symlinks);
                unpackLimits.keepFree = 4 << 20;
            } else {
                unpackLimits.maxBytes = 16 << 20;
            }
        }
        executable = installed / "current" / "bin" / "tesvano";
        auto contents = [&] {
            struct statvfs space {};
            ::statvfs(installed.c_str(), &space);
            std::set<fs::path> names{fs::directory_iterator(installed), {}};
            // Its own file system gets its free space back.
            return std::pair(names, installed == root ? 0 : space.f_bfree);
        };
        const auto before = contents();
        addRelease(dir / "bad.xml", "1.2.0", TESVANO_PROBE_STABLE, true, "", extra);
        server.answer("/Tesvano/appcast-x86_64.xml", {readAll(dir / "bad.xml")});
        fs::remove(dir / "bad.xml");
        makeState();
        checkFinds("1.2.0");
        button("install")->click();
        ASSERT_TRUE(waitFor([&] { return phase() == Kind::error; }, std::chrono::seconds(30)));
        EXPECT_EQ(windowText("failureMessage"),
                  QStringLiteral("The update couldn't be installed. Please try again later."));
        EXPECT_EQ(contents(), before) << "nothing is left behind";
        state.reset();
    }
    if (tmpfs) {
        ::umount2(small.c_str(), MNT_DETACH);
    }
}

TEST_F(HostileFeedTest, AHomeFolderThatOnlyHoldsACurrentLinkIsLeftAlone) {
    // A copy in ~/.local/bin, and a `current` link of the user's own in the home folder.
    const fs::path home = dir / "home";
    fs::create_directories(home / ".local" / "bin");
    fs::create_directories(home / "projects" / "work");
    std::ofstream(home / "projects" / "work" / "notes.txt") << "keep me";
    fs::create_directory_symlink("projects", home / "current");
    fs::copy_file(TESVANO_PROBE_STABLE, home / ".local" / "bin" / "tesvano");
    executable = home / ".local" / "bin" / "tesvano";
    makeState();
    state->updateController().checkForUpdates();
    if (waitFor([&] { return phase() == Kind::found; }, std::chrono::seconds(5))) {
        button("install")->click();
        if (waitFor([&] { return phase() == Kind::readyToInstall; }, std::chrono::seconds(20))) {
            button("install")->click();
            waitFor([&] { return !reported().empty(); }, std::chrono::seconds(10));
        }
    }
    EXPECT_EQ(fs::read_symlink(home / "current"), "projects");
    EXPECT_TRUE(fs::exists(home / "projects" / "work" / "notes.txt"));
    EXPECT_FALSE(fs::exists(home / "1.2.0"));
    EXPECT_EQ(terminations, 0);
}

TEST_F(HostileFeedTest, ReleaseNoteLinksOpenOnlyHttpsAndOnlyWhenTheUserAgrees) {
    const fs::path notes = dir / "notes.md";
    std::ofstream(notes) << "[passwords](file:///etc/passwd)\n\n"
                            "[lock](tesvano://x-callback-url/toggle-lock?x-success=https://x.test/)"
                            "\n\n[details](https://example.org/notes)\n";
    const fs::path notedFeed = dir / "noted.xml";
    addRelease(notedFeed, "1.2.0", TESVANO_PROBE_STABLE, true, "--notes " + quoted(notes));
    server.answer("/Tesvano/appcast-x86_64.xml", {readAll(notedFeed)});
    OpenedURLs catcher(
        {QStringLiteral("file"), QStringLiteral("tesvano"), QStringLiteral("https")});
    makeState();
    checkFinds("1.2.0");
    ASSERT_TRUE(view);
    QStringList asked;
    bool agree = false;
    view->confirmLink = [&](const QString& url) {
        asked << url;
        return agree;
    };
    auto* notesView = view->findChild<QWidget*>(QStringLiteral("releaseNotes"));
    ASSERT_NE(notesView, nullptr);
    const auto labels = notesView->findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 3);
    waitFor([] { return false; }, std::chrono::seconds(1));  // laid out and shown
    auto click = [](QLabel* label) {
        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(6, label->height() / 2));
        QApplication::processEvents();
    };
    click(labels[0]);
    click(labels[1]);
    EXPECT_TRUE(catcher.opened.isEmpty()) << catcher.opened.join(u' ').toStdString();
    EXPECT_TRUE(asked.isEmpty()) << "nothing but https is even offered";
    click(labels[2]);
    EXPECT_EQ(asked, QStringList{QStringLiteral("https://example.org/notes")});
    EXPECT_TRUE(catcher.opened.isEmpty()) << "the user said no";
    agree = true;
    click(labels[2]);
    EXPECT_EQ(catcher.opened, QStringList{QStringLiteral("https://example.org/notes")});
}

TEST_F(HostileFeedTest, MarkupInTheDisplayVersionIsShownAsWritten) {
    const std::string shown = "<b>1.2</b><img src=\"file:///etc/hostname\">";
    const fs::path markedFeed = dir / "marked.xml";
    addRelease(markedFeed, "1.2.0", TESVANO_PROBE_STABLE, true,
               "--display-version '" + shown + "'");
    server.answer("/Tesvano/appcast-x86_64.xml", {readAll(markedFeed)});
    makeState();
    checkFinds(shown);
    for (const char* name : {"subtitle", "versionTitle"}) {
        SCOPED_TRACE(name);
        auto* label = state->updateWindow().window()->findChild<QLabel*>(QString::fromLatin1(name));
        ASSERT_NE(label, nullptr);
        EXPECT_TRUE(label->text().contains(QString::fromStdString(shown)));
        // Drawn as written, the text is as wide as all its characters; drawn as markup, the
        // tags would vanish and an image would take their place.
        EXPECT_GE(label->sizeHint().width(),
                  QFontMetrics(label->font()).horizontalAdvance(label->text()) - 4);
    }
}

}  // namespace
}  // namespace tesvano::test

#include "HostileFeedEndToEndTests.moc"
