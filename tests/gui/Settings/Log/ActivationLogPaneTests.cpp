#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QTableView>

#include "Tesvano/Settings/Log/ActivationLogModel.h"
#include "Tesvano/Settings/Log/ActivationLogPane.h"
#include "tests/gui/AppFixture.h"
#include "tests/gui/GuiApplication.h"

namespace tesvano {
namespace {

using platform::Seconds;
using R = ActivationReason;

class ActivationLogPaneTest : public test::AppFixture {
protected:
    ActivationEvent event(R reason, Seconds age, std::string name = "German") {
        ActivationEvent e;
        e.timestamp = loop.now() - age;
        e.inputSource = InputSourceID("xkb:de");
        e.inputSourceName = std::move(name);
        e.reason = reason;
        e.durationMs = 12.345;
        e.fromSourceName = "English (US)";
        e.ruleSource = RuleSource::urlRule;
        e.matchedHost = "example.org";
        return e;
    }
    QString cell(const ActivationLogPane& pane, int row, int column,
                 int role = Qt::DisplayRole) const {
        return pane.model()->index(row, column).data(role).toString();
    }

    QApplication& application = guitest::guiApplication();
};

TEST_F(ActivationLogPaneTest, AnEmptyLogSaysSoAndNewActivationsAppearWhileOpen) {
    auto& s = makeState();
    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));
    ActivationLogPane pane(s);
    QAbstractItemModelTester tester(pane.model(),
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    pane.show();
    EXPECT_TRUE(pane.showsPlaceholder());
    EXPECT_EQ(pane.windowTitle(), QStringLiteral("Activation Log"));

    s.handleActivation(event(R::urlMatched, Seconds(5)));
    EXPECT_FALSE(pane.showsPlaceholder());
    ASSERT_EQ(pane.model()->rowCount(), 1);
    s.handleActivation(event(R::urlPolled, Seconds(0), "Russian"));
    ASSERT_EQ(pane.model()->rowCount(), 2);
    using C = ActivationLogModel::Column;
    EXPECT_EQ(cell(pane, 0, C::source), QStringLiteral("English (US) \u2192 Russian"));
    EXPECT_EQ(cell(pane, 0, C::reason), QStringLiteral("URL re-checked"));
    EXPECT_EQ(cell(pane, 0, C::reason, ActivationLogModel::detailRole), QStringLiteral("URL rule"));
    EXPECT_EQ(cell(pane, 1, C::reason, ActivationLogModel::detailRole),
              QStringLiteral("example.org"));
    EXPECT_EQ(cell(pane, 1, C::duration), QStringLiteral("12.3 ms"));
    EXPECT_EQ(cell(pane, 1, C::app), QStringLiteral("\u2014"));
    EXPECT_EQ(pane.model()->headerData(C::source, Qt::Horizontal).toString(),
              QStringLiteral("Input source"));
}

TEST_F(ActivationLogPaneTest, ShowingThePanePurgesAndKeepsOnlyTheLastDay) {
    auto& s = makeState();
    auto& store = s.logStore();
    store.record(event(R::appActivated, Seconds(86400), "a day"), std::nullopt);
    store.record(event(R::appActivated, Seconds(86399), "just inside"), std::nullopt);
    store.record(event(R::appActivated, Seconds(90000), "older"), std::nullopt);
    store.record(event(R::appActivated, Seconds(88000), "old"), std::nullopt);
    ActivationLogPane pane(s);
    store.purgeExpired(loop.now(), Seconds(89000));  // a purge before the first showing
    EXPECT_EQ(pane.model()->rowCount(), 0) << "read when shown";
    pane.show();
    ASSERT_EQ(pane.model()->rowCount(), 1);
    EXPECT_EQ(cell(pane, 0, ActivationLogModel::source),
              QStringLiteral("English (US) \u2192 just inside"));
    const auto all = store.recentEntries(loop.now(), std::nullopt, Seconds(1e9));
    EXPECT_EQ(all.size(), 2u) << "older than a day: purged; exactly a day: kept";

    pane.hide();
    loop.advance(Seconds(2));
    pane.show();
    EXPECT_TRUE(pane.showsPlaceholder()) << "the window moved on";
    EXPECT_EQ(store.recentEntries(loop.now(), std::nullopt, Seconds(1e9)).size(), 0u);
}

TEST_F(ActivationLogPaneTest, EveryColumnFitsItsTextsInEveryLanguage) {
    auto& s = makeState();
    using C = ActivationLogModel::Column;
    for (auto language : allCases<SupportedLanguage>()) {
        s.setLanguagePreference(LanguagePreference::specific(language));
        ActivationLogPane pane(s);
        pane.resize(640, 400);
        pane.show();
        // The layouts as the language names them ("Английская (США) → Немецкая"), in full.
        s.handleActivation(event(R::appActivated, Seconds(1)));
        const auto* table = pane.findChild<QTableView*>(QStringLiteral("activationLogTable"));
        ASSERT_NE(table, nullptr);
        const QFontMetrics body(table->font());
        const QFontMetrics header(table->horizontalHeader()->font());
        EXPECT_GE(table->horizontalHeader()->sectionSize(C::source),
                  body.horizontalAdvance(cell(pane, 0, C::source)) + 8)
            << rawValue(language) << ": " << cell(pane, 0, C::source).toStdString();
        const int reason = table->horizontalHeader()->sectionSize(C::reason);
        for (auto key : ActivationLogText::reasonKeys()) {
            EXPECT_GE(reason, body.horizontalAdvance(s.text(key)) + 8)
                << rawValue(language) << ": " << key;
        }
        for (int column : {C::time, C::source, C::app, C::reason, C::duration}) {
            const QString title = pane.model()->headerData(column, Qt::Horizontal).toString();
            EXPECT_GE(table->horizontalHeader()->sectionSize(column),
                      header.horizontalAdvance(title) + 8)
                << rawValue(language) << ": " << title.toStdString();
        }
    }
}

TEST_F(ActivationLogPaneTest, DurationsReadAsTheInterfaceLanguageWritesThem) {
    auto& s = makeState();
    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::russian));
    ActivationLogPane pane(s);
    pane.show();
    s.handleActivation(event(R::appActivated, Seconds(1)));
    ASSERT_EQ(pane.model()->rowCount(), 1);
    EXPECT_EQ(cell(pane, 0, ActivationLogModel::duration), QString::fromUtf8("12,3 мс"));
}

}  // namespace
}  // namespace tesvano
