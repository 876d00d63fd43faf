#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTabBar>
#include <QTableView>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeView>
#include <cmath>
#include <string>
#include <vector>

#include "Tesvano/Settings/Backup/ImportReviewDialog.h"
#include "Tesvano/Settings/Log/ActivationLogModel.h"
#include "Tesvano/Settings/SettingsWindow.h"
#include "TesvanoKit/Backup/ImportReviewModel.h"
#include "TesvanoKit/Languages/Localization.h"
#include "tests/gui/AppFixture.h"

namespace tesvano {
namespace {

using platform::Seconds;

// Where a text of a window does not show whole: what, which text, and the room it needs and has.
struct Cut {
    std::string where;
    std::string text;
    int needs;
    int has;
};

std::string nameOf(const QWidget* widget, const QWidget* top) {
    std::string path;
    for (const QWidget* w = widget; w != nullptr && w != top; w = w->parentWidget()) {
        const QString name = w->objectName();
        if (!name.isEmpty()) {
            path = name.toStdString() + (path.empty() ? "" : "/" + path);
        }
    }
    return std::string(widget->metaObject()->className()) + " " + path;
}

// The width of the widget that its parents let show: a scroll area's viewport or the window
// cut it off at their edges. Height is not asked: what lies below the fold scrolls into view.
int shownWidth(const QWidget* widget, const QWidget* top) {
    QRect area(widget->mapTo(top, QPoint(0, 0)), widget->size());
    for (const QWidget* w = widget->parentWidget(); w != nullptr; w = w->parentWidget()) {
        const QRect parent(w->mapTo(top, QPoint(0, 0)), w->size());
        area.setLeft(std::max(area.left(), parent.left()));
        area.setRight(std::min(area.right(), parent.right()));
        if (w == top) {
            break;
        }
    }
    return std::max(0, area.width());
}

// The width a label's text takes on one line, as the label would draw it.
int textWidth(const QLabel* label) {
    const QString text = label->text();
    const bool rich = label->textFormat() == Qt::RichText ||
                      label->textFormat() == Qt::MarkdownText ||
                      (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
    if (rich) {
        QTextDocument document;
        document.setDefaultFont(label->font());
        document.setDocumentMargin(0);
        if (label->textFormat() == Qt::MarkdownText) {
            document.setMarkdown(text);
        } else {
            document.setHtml(text);
        }
        return int(std::ceil(document.idealWidth()));
    }
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
    }
    return widest;
}

void checkLabel(const QLabel* label, const QWidget* top, std::vector<Cut>& cuts) {
    if (label->text().isEmpty()) {
        return;
    }
    const int inset = 2 * (label->margin() + std::max(0, label->indent()));
    const int room = std::min(label->contentsRect().width(), shownWidth(label, top)) - inset;
    if (label->wordWrap()) {
        // A wrapped text needs its lines' height at the width it has.
        const int needs = label->heightForWidth(label->width());
        if (needs > label->height()) {
            cuts.push_back({nameOf(label, top) + " (height)", label->text().toStdString(), needs,
                            label->height()});
        }
        if (label->width() > shownWidth(label, top)) {
            cuts.push_back({nameOf(label, top) + " (beyond its view)", label->text().toStdString(),
                            label->width(), shownWidth(label, top)});
        }
        return;
    }
    const int needs = textWidth(label);
    if (needs > room) {
        cuts.push_back({nameOf(label, top), label->text().toStdString(), needs, room});
    }
}

void checkButton(const QAbstractButton* button, const QWidget* top, std::vector<Cut>& cuts) {
    if (button->text().isEmpty()) {
        return;
    }
    // The button's own measure of its text, frame and icon: a tool button elides below it, the
    // others clip.
    const int needs = button->sizeHint().width();
    const int has = std::min(button->width(), shownWidth(button, top));
    if (needs > has) {
        cuts.push_back({nameOf(button, top), button->text().toStdString(), needs, has});
    }
}

void checkTabBar(const QTabBar* bar, const QWidget* top, std::vector<Cut>& cuts) {
    const int space = bar->style()->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, bar);
    for (int i = 0; i < bar->count(); ++i) {
        QString text = bar->tabText(i);
        text.remove(QLatin1Char('&'));
        const int needs = bar->fontMetrics().horizontalAdvance(text) + space +
                          (bar->tabIcon(i).isNull() ? 0 : bar->iconSize().width() + 4);
        const int has = bar->tabRect(i).width();
        if (needs > has) {
            cuts.push_back({nameOf(bar, top) + " tab", text.toStdString(), needs, has});
        }
    }
}

void checkGroupTitle(const QGroupBox* group, const QWidget* top, std::vector<Cut>& cuts) {
    if (group->title().isEmpty()) {
        return;
    }
    const int needs = group->fontMetrics().horizontalAdvance(group->title());
    const int has = std::min(group->width(), shownWidth(group, top));
    if (needs > has) {
        cuts.push_back({nameOf(group, top) + " title", group->title().toStdString(), needs, has});
    }
}

bool wraps(const QAbstractItemView* view) {
    if (const auto* table = qobject_cast<const QTableView*>(view)) {
        return table->wordWrap();
    }
    if (const auto* tree = qobject_cast<const QTreeView*>(view)) {
        return tree->wordWrap();
    }
    return false;
}

// Every column in view, or a scroll bar that brings it there; every title and every cell as
// wide as its column.
void checkTable(const QAbstractItemView* view, const QHeaderView* header, const QWidget* top,
                std::vector<Cut>& cuts) {
    const QAbstractItemModel* model = view->model();
    if (model == nullptr) {
        return;
    }
    const int viewport = std::min(view->viewport()->width(), shownWidth(view->viewport(), top));
    const QScrollBar* bar = view->horizontalScrollBar();
    // A bar that shows only while scrolling (overlay bars) tells nobody the view goes on.
    const bool scrolls = bar->isVisibleTo(top) && bar->maximum() > 0 &&
                         !bar->style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, bar);
    const int margin = view->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int column = 0; column < model->columnCount(); ++column) {
        if (header->isSectionHidden(column)) {
            continue;
        }
        const QString title = model->headerData(column, Qt::Horizontal).toString();
        const int right = header->sectionPosition(column) + header->sectionSize(column);
        if (right > viewport && !(scrolls && bar->maximum() >= right - viewport)) {
            cuts.push_back(
                {nameOf(view, top) + " column out of view", title.toStdString(), right, viewport});
        }
        const int titleNeeds = header->fontMetrics().horizontalAdvance(title) + 2 * margin;
        if (titleNeeds > header->sectionSize(column)) {
            cuts.push_back({nameOf(view, top) + " column title", title.toStdString(), titleNeeds,
                            header->sectionSize(column)});
        }
        for (int row = 0; row < std::min(model->rowCount(), 100); ++row) {
            const QModelIndex index = model->index(row, column);
            QStyleOptionViewItem option;
            option.initFrom(view);
            option.font = view->font();
            option.fontMetrics = view->fontMetrics();
            option.decorationSize = view->iconSize();
            const int rowHeight = view->visualRect(index).height();
            if (wraps(view)) {
                // A wrapping cell needs its lines' height in its column's width.
                option.rect = QRect(0, 0, header->sectionSize(column), rowHeight);
                option.features |= QStyleOptionViewItem::WrapText;
                const QSize hint = view->itemDelegateForIndex(index)->sizeHint(option, index);
                if (hint.height() > rowHeight) {
                    cuts.push_back({nameOf(view, top) + " cell " + std::to_string(row) + " of " +
                                        title.toStdString() + " (height)",
                                    index.data().toString().toStdString(), hint.height(),
                                    rowHeight});
                }
                continue;
            }
            const int needs = view->itemDelegateForIndex(index)->sizeHint(option, index).width();
            if (needs > header->sectionSize(column)) {
                cuts.push_back({nameOf(view, top) + " cell " + std::to_string(row) + " of " +
                                    title.toStdString(),
                                index.data().toString().toStdString(), needs,
                                header->sectionSize(column)});
            }
        }
    }
}

// Every text the window shows now: labels, buttons, tabs, group titles and tables.
std::vector<Cut> cutTexts(const QWidget* top) {
    std::vector<Cut> cuts;
    for (const QWidget* widget : top->findChildren<QWidget*>()) {
        if (widget->window() != top || !widget->isVisibleTo(top)) {
            continue;
        }
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            checkLabel(label, top, cuts);
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
            checkButton(button, top, cuts);
        } else if (const auto* bar = qobject_cast<const QTabBar*>(widget)) {
            checkTabBar(bar, top, cuts);
        } else if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
            checkGroupTitle(group, top, cuts);
        } else if (const auto* view = qobject_cast<const QAbstractItemView*>(widget)) {
            const QHeaderView* header = nullptr;
            if (const auto* table = qobject_cast<const QTableView*>(view)) {
                header = table->horizontalHeader();
            } else if (const auto* tree = qobject_cast<const QTreeView*>(view)) {
                header = tree->header();
            }
            if (header != nullptr && header->isVisibleTo(top)) {
                checkTable(view, header, top, cuts);
            }
        }
    }
    return cuts;
}

std::string report(const std::vector<Cut>& cuts) {
    std::string out;
    for (const auto& cut : cuts) {
        out += "\n  " + cut.where + ": \"" + cut.text + "\" needs " + std::to_string(cut.needs) +
               ", has " + std::to_string(cut.has);
    }
    return out;
}

class TextFitTest : public test::AppFixture,
                    public ::testing::WithParamInterface<SupportedLanguage> {
protected:
    TextFitTest() {
        // Names as long as layouts' names get, in the scripts the languages write.
        system.installed.push_back(platform::FakeTextInputSources::keyboard(
            "xkb:ru", "Русская (фонетическая, Windows)", {"ru"}));
        system.installed.push_back(
            platform::FakeTextInputSources::keyboard("xkb:jp", "日本語 (かな 86)", {"ja"}));
    }
    ~TextFitTest() override { LanguageOverride::apply(SupportedLanguage::english); }

    AppState& started() {
        auto& s = makeState();
        s.setLanguagePreference(LanguagePreference::specific(GetParam()));
        s.start();
        return s;
    }

    // Rules and a log with every reason and every detail line, so that each pane shows its
    // rows.
    void fill(AppState& s) {
        s.upsertAppRule({"org.gnome.TextEditor", AppRuleMode::locked, InputSourceID("xkb:ru")});
        s.upsertAppRule({"process:xterm", AppRuleMode::switched, InputSourceID("xkb:jp")});
        s.upsertAppRule({"firefox-esr", AppRuleMode::useDefault, std::nullopt});
        s.upsertAppRule({"code", AppRuleMode::ignored, std::nullopt});
        auto config = s.config();
        config.urlRules = {URLRule{Uuid::random(), "docs.example.org", InputSourceID("xkb:ru"),
                                   RuleAction::switchOnce, URLMatchType::domainKeyword}};
        s.setConfig(config);
        s.commitConfiguration(ActivationReason::configChanged);
        double age = 60;
        const RuleSource sources[] = {RuleSource::appRule, RuleSource::globalDefault,
                                      RuleSource::urlRule, RuleSource::addressBarRule};
        int i = 0;
        for (const auto reason : allCases<ActivationReason>()) {
            ActivationEvent e;
            e.timestamp = loop.now() - Seconds(age += 37);
            e.inputSource = InputSourceID("xkb:ru");
            e.inputSourceName = "Русская (фонетическая, Windows)";
            e.fromSourceName = "日本語 (かな 86)";
            e.reason = reason;
            e.durationMs = 1234.56;
            e.ruleSource = sources[i++ % 4];
            e.matchedHost = "docs.example.org";
            s.logStore().record(e, "Текстовый редактор");
        }
    }
};

// At the size the window opens with in the language, every tab shows each of its texts whole:
// no tab title or label elided, no word-wrapped text short of its lines, no column out of
// reach, within the screen.
TEST_P(TextFitTest, EveryTextOfEveryTabShowsWholeAtTheWindowsDefaultSize) {
    auto& s = started();
    fill(s);
    SettingsWindow window(s);
    window.show();
    processEvents();
    const QRect screen = window.screen()->availableGeometry();
    for (const auto& info : settingsTabs) {
        s.setSettingsTab(info.tab);
        processEvents();
        SCOPED_TRACE(std::string(rawValue(GetParam())) + ", tab " + std::to_string(int(info.tab)));
        EXPECT_LE(window.width(), screen.width());
        EXPECT_LE(window.height(), screen.height());
        const auto cuts = cutTexts(&window);
        EXPECT_TRUE(cuts.empty()) << window.width() << " × " << window.height() << report(cuts);
    }
}

// The import review at its size: the note on why nothing applies, the counters and every row.
TEST_P(TextFitTest, TheImportReviewShowsItsTextsWhole) {
    auto& s = started();
    LockConfiguration local;
    local.defaultSourceID = InputSourceID("xkb:us");
    local.appRules = {AppRule{"far.app", AppRuleMode::locked, InputSourceID("xkb:us")},
                      AppRule{"only.local", AppRuleMode::ignored, std::nullopt},
                      AppRule{"same.app", AppRuleMode::locked, InputSourceID("xkb:ru")}};
    local.urlRules = {URLRule{Uuid::random(), "a.com", InputSourceID("xkb:us")}};
    const auto changing = ConfigBackup::read(R"({"format": "com.quorvel.Tesvano.backup",
        "payload": {"defaultSourceID": "xkb:ru", "defaultAction": "twice",
        "appRules": [{"bundleID": "process:xterm", "mode": "sometimes", "lockedSourceID": "xkb:ru"},
                     {"bundleID": "far.app", "mode": "switched", "lockedSourceID": "xkb:fr"},
                     {"bundleID": "same.app", "mode": "often", "lockedSourceID": "xkb:ru"}],
        "urlRules": [{"hostPattern": "docs.example.org", "lockedSourceID": "xkb:jp",
                      "action": "switch", "matchType": "glob"}]}})");
    ASSERT_TRUE(changing.has_value());
    const ConfigBackup same = ConfigBackup::fromConfiguration(local, "1", {});
    for (const ConfigBackup* backup : {&*changing, &same}) {
        for (const auto mode : {ImportMode::merge, ImportMode::replace}) {
            auto model = std::make_shared<ImportReviewModel>(
                ImportPlan::make(local, *backup, s.availableSources(), mode),
                [](const ImportPlan& plan) { return plan.outcome(); });
            ImportReviewDialog dialog(s, model, [](const ImportOutcome&) {});
            dialog.show();
            processEvents();
            SCOPED_TRACE(std::string(rawValue(GetParam())) +
                         (backup == &same ? ", nothing to apply" : ", changes") +
                         (mode == ImportMode::merge ? ", merge" : ", replace"));
            EXPECT_EQ(dialog.findChild<QWidget*>(QStringLiteral("section.asRead")) != nullptr,
                      backup == &*changing);
            const auto cuts = cutTexts(&dialog);
            EXPECT_TRUE(cuts.empty()) << report(cuts);
            // The note on why Apply is off reads as a sentence, not a column of words.
            if (auto* reason = dialog.findChild<QLabel*>(QStringLiteral("applyReason"));
                reason != nullptr && reason->isVisibleTo(&dialog)) {
                EXPECT_LE(reason->height(), 3 * reason->fontMetrics().lineSpacing())
                    << reason->text().toStdString();
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllLanguages, TextFitTest,
                         ::testing::ValuesIn(allCases<SupportedLanguage>()),
                         [](const ::testing::TestParamInfo<SupportedLanguage>& language) {
                             std::string name(rawValue(language.param));
                             std::erase(name, '-');
                             return name;
                         });

}  // namespace
}  // namespace tesvano
