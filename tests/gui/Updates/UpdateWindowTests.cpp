#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "Tesvano/Updates/ReleaseNotesView.h"
#include "Tesvano/Updates/UpdateWindowView.h"
#include "tests/gui/AppFixture.h"

namespace tesvano::test {
namespace {

using Kind = UpdatePhase::Kind;

class UpdateWindowTest : public AppFixture {
protected:
    UpdateViewModel& model() { return state->updateController().model(); }
    std::unique_ptr<UpdateWindowView> view() {
        return std::make_unique<UpdateWindowView>(*state, [this] { ++closes; });
    }
    static QStringList buttons(const QWidget& w) {
        QStringList names;
        for (auto* b : w.findChildren<QPushButton*>()) {
            if (!b->isHidden()) {
                names << b->objectName();
            }
        }
        names.sort();
        return names;
    }
    int closes = 0;
};

TEST_F(UpdateWindowTest, EachPhaseShowsItsBodyAndButtons) {
    makeState().start();
    struct Case {
        const char* name;
        std::function<void(UpdateViewModel&)> setUp;
        const char* subtitle;
        std::vector<const char*> buttons;
        bool versionLine;
        const char* bodyObject;  // a child that must be there
    };
    const Case cases[] = {
        {"idle", [](auto&) {}, "Tesvano", {"close"}, false, nullptr},
        {"checking",
         [](auto& m) { m.setPhase(UpdatePhase::of(Kind::checking)); },
         "Checking…",
         {"cancel"},
         false,
         nullptr},
        {"up to date",
         [](auto& m) { m.setPhase(UpdatePhase::of(Kind::upToDate)); },
         "No updates available",
         {"close"},
         false,
         "statusTitle"},
        {"error",
         [](auto& m) { m.setPhase(UpdatePhase::error(UpdateFailure::verificationFailed)); },
         "Something went wrong",
         {"close"},
         false,
         "failureMessage"},
        {"found with skip",
         [](auto& m) {
             m.setAvailableVersion("1.2.0");
             m.setPhase(UpdatePhase::found("1.2.0"));
             m.skipAction = [] {};
         },
         "Version 1.2.0 is available",
         {"install", "later", "skip"},
         true,
         "versionTitle"},
        {"found without version or skip",
         [](auto& m) { m.setPhase(UpdatePhase::found("")); },
         "A new version is available",
         {"install", "later"},
         true,
         "noReleaseNotes"},
        {"downloading, size unknown",
         [](auto& m) {
             m.setAvailableVersion("1.2.0");
             m.setPhase(UpdatePhase::downloading(0.25));
         },
         "Version 1.2.0 is available",
         {"cancel"},
         true,
         "progress"},
        {"ready",
         [](auto& m) { m.setPhase(UpdatePhase::of(Kind::readyToInstall)); },
         "A new version is available",
         {"install", "later"},
         true,
         nullptr},
        {"installing",
         [](auto& m) { m.setPhase(UpdatePhase::of(Kind::installing)); },
         "A new version is available",
         {},
         true,
         "installingSpinner"},
    };
    for (const auto& c : cases) {
        model().reset();
        c.setUp(model());
        auto window = view();
        EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("subtitle"))->text(),
                  QString::fromUtf8(c.subtitle))
            << c.name;
        QStringList expected;
        for (const char* b : c.buttons) {
            expected << QString::fromLatin1(b);
        }
        EXPECT_EQ(buttons(*window), expected) << c.name;
        EXPECT_EQ(!window->findChild<QLabel*>(QStringLiteral("currentVersion"))->isHidden(),
                  c.versionLine)
            << c.name;
        if (c.bodyObject) {
            EXPECT_NE(window->findChild<QWidget*>(QString::fromLatin1(c.bodyObject)), nullptr)
                << c.name;
        }
        EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("progressDetail")), nullptr) << c.name;
    }
}

TEST_F(UpdateWindowTest, FollowsTheModelAndAnswersThroughIt) {
    makeState().start();
    auto answer = offerUpdate("1.2.0");
    model().setIsBetaChannel(true);
    model().setReleaseNotesMarkdown(" \n\t\n");
    auto window = view();
    EXPECT_NE(window->findChild<QLabel*>(QStringLiteral("betaChip")), nullptr);
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("dateChip")), nullptr);
    EXPECT_NE(window->findChild<QLabel*>(QStringLiteral("noReleaseNotes")), nullptr);
    window->findChild<QPushButton*>(QStringLiteral("install"))->click();
    EXPECT_EQ(*answer, platform::UpdateChoice::install);
    EXPECT_EQ(closes, 0) << "the window stays for the download";

    state->updateController().events().downloadStarted([] {});
    state->updateController().events().downloadSizeKnown(2'000'000);
    state->updateController().events().downloadReceived(500'000);
    processEvents();
    auto* bar = window->findChild<QProgressBar*>(QStringLiteral("progress"));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->value(), 250);
    auto* detail = window->findChild<QLabel*>(QStringLiteral("progressDetail"));
    ASSERT_NE(detail, nullptr);
    EXPECT_EQ(detail->text(), QStringLiteral("500.0 kB of 2.0 MB"));
    window->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    EXPECT_EQ(closes, 1);

    auto skipped = offerUpdate("1.2.1");
    processEvents();
    window->findChild<QPushButton*>(QStringLiteral("skip"))->click();
    EXPECT_EQ(*skipped, platform::UpdateChoice::skip);
    EXPECT_EQ(closes, 2);
}

TEST_F(UpdateWindowTest, DownloadDetailAndMessages) {
    makeState();
    struct Case {
        std::uint64_t downloaded;
        std::uint64_t expected;
        double speed;
        const char* text;
    };
    const Case cases[] = {
        {1'500'000, 4'000'000, 0, "1.5 MB of 4.0 MB"},
        {1'000'000, 4'000'000, 100'000.7, "1.0 MB of 4.0 MB — 100.0 kB/s, 30s remaining"},
        {0, 400'000'000, 100'000, "0 bytes of 400.0 MB — 100.0 kB/s, 1h 6m remaining"},
        {5'000'000, 4'000'000, 1'000, "5.0 MB of 4.0 MB — 1.0 kB/s, 0s remaining"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UpdateWindowView::progressDetail(*state, c.downloaded, c.expected, c.speed),
                  QString::fromUtf8(c.text));
    }
    EXPECT_EQ(UpdateWindowView::remainingTime(3600), QStringLiteral("1h"));
    EXPECT_EQ(UpdateWindowView::remainingTime(3605), QStringLiteral("1h"));
    EXPECT_EQ(UpdateWindowView::remainingTime(61), QStringLiteral("1m 1s"));
    QStringList messages;
    for (auto f : {UpdateFailure::checkFailed, UpdateFailure::downloadFailed,
                   UpdateFailure::verificationFailed, UpdateFailure::installationFailed,
                   UpdateFailure::unknown}) {
        messages << UpdateWindowView::failureMessage(*state, f);
    }
    messages.removeDuplicates();
    EXPECT_EQ(messages.size(), 5);
}

TEST(ReleaseNotesView, RendersBlocksEscapedWithTheirStyle) {
    EXPECT_EQ(ReleaseNotesView::html({{"a<b>", StyledRun::strong | StyledRun::code, {}},
                                      {"site", StyledRun::plain, "https://e.org/?a=1&b=\"2\""}}),
              QStringLiteral("<b><code>a&lt;b&gt;</code></b><a "
                             "href=\"https://e.org/?a=1&amp;b=&quot;2&quot;\">site</a>"));
    ReleaseNotesView view("# Title\n\n* one\n* two\n\n### Small\n\ntext");
    int headings = 0;
    int items = 0;
    for (auto* label : view.findChildren<QLabel*>()) {
        if (label->property("headingLevel").isValid()) {
            ++headings;
        }
        if (label->property("listItem").toBool()) {
            ++items;
        }
    }
    EXPECT_EQ(headings, 2);
    EXPECT_EQ(items, 2);
    const QFont base = view.font();
    EXPECT_GT(ReleaseNotesView::headingFont(1, base).pointSizeF(), base.pointSizeF());
    EXPECT_EQ(ReleaseNotesView::headingFont(3, base).pointSizeF(), base.pointSizeF());
}

}  // namespace
}  // namespace tesvano::test
