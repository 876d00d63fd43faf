#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollArea>

#include "Tesvano/Settings/Components/OverlayScrollerSweep.h"
#include "Tesvano/Windows/AboutView.h"
#include "Tesvano/Windows/HostedWindowController.h"
#include "TesvanoKit/Languages/Localization.h"
#include "tests/gui/AppFixture.h"

namespace tesvano {
namespace {

class HostedWindowTest : public test::AppFixture {
protected:
    void installAbout(AppState& s) {
        s.makeAboutContent = [this, &s](const std::function<void()>&) -> QWidget* {
            ++aboutBuilt;
            return new AboutView(s);
        };
    }
    int aboutBuilt = 0;
};

TEST_F(HostedWindowTest, TheAboutWindowIsCentredOnceAndKeepsWhereTheUserMovedIt) {
    auto& s = makeState();
    installAbout(s);
    auto& about = s.aboutWindow();
    about.show();
    QWidget* window = about.window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("About Tesvano"));
    const QPoint moved = window->pos() + QPoint(37, 21);
    window->move(moved);
    about.closeWindow();
    EXPECT_FALSE(window->isVisible());
    about.show();
    EXPECT_EQ(about.window(), window) << "the window is kept, not rebuilt";
    EXPECT_EQ(window->pos(), moved);
    EXPECT_EQ(aboutBuilt, 1);
    about.closeWindow();
}

TEST_F(HostedWindowTest, ClosingTheUpdateWindowDismissesTheUpdateOncePerClose) {
    auto& s = makeState();
    std::function<void()> closeFromContent;
    s.makeUpdateContent = [&](std::function<void()> close) -> QWidget* {
        closeFromContent = std::move(close);
        return new QWidget;
    };
    auto answer = offerUpdate("1.2.0");
    s.showUpdateWindow();
    ASSERT_TRUE(s.updateWindow().window()->isVisible());
    s.updateWindow().window()->close();  // the title bar's close button
    EXPECT_EQ(*answer, platform::UpdateChoice::dismiss);
    answer = offerUpdate("1.2.1");
    s.showUpdateWindow();
    closeFromContent();
    EXPECT_EQ(*answer, platform::UpdateChoice::dismiss);
    EXPECT_FALSE(s.updateWindow().window()->isVisible());
}

TEST_F(HostedWindowTest, ANewInterfaceLanguageRetitlesAndRebuildsAnOpenWindow) {
    auto& s = makeState();
    installAbout(s);
    s.aboutWindow().show();
    s.aboutWindow().window()->setWindowTitle(QStringLiteral("stale"));
    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::german));
    EXPECT_EQ(
        s.aboutWindow().window()->windowTitle(),
        QString::fromStdString(Localization::text("About Tesvano", SupportedLanguage::german)));
    EXPECT_EQ(aboutBuilt, 2);
    s.aboutWindow().closeWindow();
}

TEST_F(HostedWindowTest, TheAboutIconFollowsTheLockAndReturnClosesTheAcknowledgements) {
    auto& s = makeState();
    s.start();
    std::vector<QUrl> opened;
    AboutView about(s);
    about.openURL = [&](const QUrl& url) { opened.push_back(url); };
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(about.showsUnlockedIcon(), !s.config().isEnabled);
        s.toggleLock();
    }

    about.findChild<QPushButton*>(QStringLiteral("github"))->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], AboutView::repositoryURL());

    about.show();
    about.showAcknowledgements();
    QDialog* dialog = about.acknowledgements();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(dialog->isVisible());
    const auto rows = dialog->findChildren<QPushButton*>(QStringLiteral("library"));
    ASSERT_EQ(rows.size(), static_cast<qsizetype>(AcknowledgementsView::libraries().size()));
    rows.front()->click();
    EXPECT_EQ(opened.back(), AcknowledgementsView::libraries().front().url);
    EXPECT_TRUE(OverlayScrollerSweep::usesOverlayScrollers(dialog->findChild<QScrollArea*>()))
        << "the list scrolls with overlay bars";

    // Every row shows without scrolling: overlay bars appear only while scrolling, so a
    // cut-off last row would look like the end of the list.
    processEvents();
    auto* scroller = dialog->findChild<QScrollArea*>();
    const QRect last(rows.back()->mapTo(scroller->widget(), QPoint(0, 0)), rows.back()->size());
    EXPECT_LE(last.bottom(), scroller->viewport()->height());

    QKeyEvent returnKey(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(dialog, &returnKey);
    EXPECT_FALSE(dialog->isVisible());
    processEvents();
    EXPECT_EQ(about.acknowledgements(), nullptr) << "made afresh next time";
}

}  // namespace
}  // namespace tesvano
