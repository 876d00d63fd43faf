#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QMimeData>
#include <memory>

#include "Tesvano/Settings/URLRules/URLRuleListModel.h"
#include "tests/gui/AppFixture.h"
#include "tests/gui/GuiApplication.h"

namespace tesvano {
namespace {

class URLRuleListModelTest : public test::AppFixture {
protected:
    URLRuleListModelTest() {
        makeState().start();
        for (const char* pattern : {"a.com", "b.com", "c.com"}) {
            state->upsertURLRule(URLRule{Uuid::random(), pattern, InputSourceID("xkb:de"),
                                         RuleAction::lock, URLMatchType::domainSuffix});
        }
        model = std::make_unique<URLRuleListModel>(*state);
        tester = std::make_unique<QAbstractItemModelTester>(
            model.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);
        QObject::connect(state.get(), &AppState::configChanged, [this] { ++commits; });
    }

    // First letters of the patterns: what the list shows, and what is in force.
    std::string shown() const {
        std::string out;
        for (int row = 0; row < model->rowCount(); ++row) {
            out += model->index(row).data().toString().left(1).toStdString();
        }
        return out;
    }
    std::string stored() const {
        std::string out;
        for (const auto& rule : state->config().urlRules) {
            out += rule.hostPattern.substr(0, 1);
        }
        return out;
    }
    // Starts dragging a row, as the view does.
    std::unique_ptr<QMimeData> beginDrag(int row) {
        return std::unique_ptr<QMimeData>(model->mimeData({model->index(row)}));
    }
    bool drop(const QMimeData& data) {
        return model->dropMimeData(&data, Qt::MoveAction, -1, -1, {});
    }

    QApplication& application = guitest::guiApplication();
    std::unique_ptr<URLRuleListModel> model;
    std::unique_ptr<QAbstractItemModelTester> tester;
    int commits = 0;
};

TEST_F(URLRuleListModelTest, ADragShowsTheDraftAndItsDropCommitsItOnce) {
    struct Case {
        int dragged;
        int hovered;
        const char* order;
        int commits;
    };
    const Case cases[] = {
        {1, 0, "bac", 1},  // up
        {0, 2, "bca", 1},  // down
        {1, 1, "abc", 0},  // over itself: the order in force stays, nothing committed
    };
    const auto abc = state->config().urlRules;
    for (const Case& c : cases) {
        state->reorderURLRules(abc);  // each case starts from the first order
        commits = 0;
        const auto data = beginDrag(c.dragged);
        ASSERT_TRUE(model->isDragging());
        model->hoverOver(data->text(), c.hovered);
        EXPECT_EQ(shown(), c.order);
        EXPECT_EQ(stored(), "abc") << "hovering commits nothing";
        EXPECT_TRUE(drop(*data));
        EXPECT_EQ(stored(), c.order);
        EXPECT_EQ(shown(), c.order);
        EXPECT_EQ(commits, c.commits);
        EXPECT_FALSE(model->isDragging());
    }
}

TEST_F(URLRuleListModelTest, ADragThatEndsWithoutADropLeavesNothingBehind) {
    const auto data = beginDrag(0);
    model->hoverOver(data->text(), 2);
    ASSERT_EQ(shown(), "bca");

    model->endDrag();  // Escape, or dropped outside the list
    EXPECT_EQ(shown(), "abc") << "the list shows the order in force";
    EXPECT_FALSE(model->isDragging());
    // The next text dropped on the list, even the old id, does not commit the stale draft.
    EXPECT_FALSE(drop(*data));
    EXPECT_EQ(stored(), "abc");
    EXPECT_EQ(commits, 0);
}

TEST_F(URLRuleListModelTest, AForeignDropIsIgnoredAndTheRealOneStillCommits) {
    const auto data = beginDrag(2);
    model->hoverOver(data->text(), 0);
    QMimeData foreign;
    foreign.setText(QStringLiteral("https://example.org"));
    EXPECT_FALSE(model->canDropMimeData(&foreign, Qt::MoveAction, -1, -1, {}));
    EXPECT_FALSE(drop(foreign));
    QMimeData otherRule;
    otherRule.setText(model->index(1).data(URLRuleListModel::ruleIDRole).toString());
    EXPECT_FALSE(drop(otherRule));
    EXPECT_EQ(stored(), "abc");
    EXPECT_EQ(commits, 0);

    EXPECT_TRUE(drop(*data));
    EXPECT_EQ(stored(), "cab");
    EXPECT_EQ(commits, 1);
}

TEST_F(URLRuleListModelTest, ARuleRemovedDuringADragShowsTheStoredRulesAndTheDropChangesNothing) {
    const auto data = beginDrag(2);
    model->hoverOver(data->text(), 0);
    ASSERT_EQ(shown(), "cab");
    state->removeURLRule(state->config().urlRules[1].id);  // by the automation interface
    EXPECT_EQ(shown(), "ac");
    commits = 0;
    EXPECT_TRUE(drop(*data));
    EXPECT_EQ(stored(), "ac");
    EXPECT_EQ(commits, 0);
}

TEST_F(URLRuleListModelTest, MovingARowOutsideADragCommitsAtOnce) {
    EXPECT_TRUE(model->moveRows({}, 0, 1, {}, 2));  // one down: Qt counts r → r + 2
    EXPECT_EQ(stored(), "bac");
    EXPECT_EQ(shown(), "bac");
    EXPECT_TRUE(model->moveRows({}, 2, 1, {}, 0));
    EXPECT_EQ(stored(), "cba");
    EXPECT_FALSE(model->moveRows({}, 1, 1, {}, 1)) << "onto its own place";
    EXPECT_FALSE(model->moveRows({}, 1, 1, {}, 2));
    EXPECT_EQ(commits, 2);
}

TEST_F(URLRuleListModelTest, RowsSummariseTheRuleAndMarkASkippedOne) {
    auto gone = state->config().urlRules[2];
    gone.lockedSourceID = InputSourceID("xkb:jp");
    gone.action = RuleAction::switchOnce;
    gone.matchType = URLMatchType::urlRegex;
    state->upsertURLRule(gone);
    EXPECT_EQ(model->index(0).data(URLRuleListModel::actionSummaryRole).toString(),
              QStringLiteral("Lock to German"));
    EXPECT_EQ(model->index(2).data(URLRuleListModel::actionSummaryRole).toString(),
              QStringLiteral("Switch to xkb:jp"))
        << "a source that is not installed shows as its id";
    EXPECT_EQ(model->index(2).data(URLRuleListModel::matchTypeRole).toString(),
              QStringLiteral("URL regex"));

    EXPECT_FALSE(model->index(2).data(URLRuleListModel::skippedRole).toBool());
    model->isSkipped = [&](const Uuid& id) { return id == gone.id; };
    int changed = 0;
    QObject::connect(model.get(), &QAbstractItemModel::dataChanged, [&] { ++changed; });
    emit state->skippedURLRulesChanged();
    EXPECT_GT(changed, 0);
    EXPECT_TRUE(model->index(2).data(URLRuleListModel::skippedRole).toBool());
    EXPECT_TRUE(
        model->index(2).data(Qt::ToolTipRole).toString().contains(QStringLiteral("too long")));
    EXPECT_FALSE(model->index(0).data(URLRuleListModel::skippedRole).toBool());
    EXPECT_TRUE(model->index(0).data(Qt::ToolTipRole).isNull());
}

}  // namespace
}  // namespace tesvano
