#include "Tesvano/Settings/Shortcuts/ShortcutsSettingsPane.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "KeyboardShortcuts/Recorder/Recorder.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/ShortcutNames.h"
#include "TesvanoKit/Languages/TextKey.h"

namespace tesvano {

namespace {

struct Row {
    const KeyboardShortcuts::Name& (*name)();
    std::string_view label;
};

struct Section {
    std::string_view header;
    std::vector<Row> rows;
    std::string_view footer;
};

std::vector<Section> sections() {
    return {
        {N_("Global shortcuts"),
         {{&ShortcutNames::toggleLock, N_("Toggle lock")},
          {&ShortcutNames::globalPreviousSource, N_("Lock to previous input source")},
          {&ShortcutNames::globalNextSource, N_("Lock to next input source")}},
         N_("Works anywhere. Prefer a combination with Ctrl or Super.")},
        {N_("Current app"),
         {{&ShortcutNames::appPreviousSource, N_("Lock to previous input source")},
          {&ShortcutNames::appNextSource, N_("Lock to next input source")},
          {&ShortcutNames::removeActiveAppRule, N_("Remove this app's rule")}},
         N_("Act on the app of the active window. Nothing happens if it has no rule.")},
    };
}

// The secondary text under a section: small, dimmed, wrapped; inline Markdown is rendered.
QLabel* makeFooter(QWidget* parent) {
    auto* footer = new QLabel(parent);
    footer->setTextFormat(Qt::MarkdownText);
    footer->setWordWrap(true);
    QFont font = footer->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    footer->setFont(font);
    footer->setForegroundRole(QPalette::PlaceholderText);
    return footer;
}

}  // namespace

ShortcutsSettingsPane::ShortcutsSettingsPane(AppState& appState, QWidget* parent)
    : QWidget(parent), appState_(appState) {
    auto* layout = new QVBoxLayout(this);
    // The window's margins are the inset, as in every other pane.
    layout->setContentsMargins(0, 0, 0, 0);
    for (const Section& section : sections()) {
        auto* group = new QGroupBox(this);
        texts_.push_back({group, section.header});
        auto* form = new QFormLayout(group);
        form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
        for (const Row& row : section.rows) {
            auto* label = new QLabel(group);
            texts_.push_back({label, row.label});
            const KeyboardShortcuts::Name& name = row.name();
            auto* recorder = new KeyboardShortcuts::Recorder(name, {}, group);
            recorder->setObjectName(QString::fromStdString(name.rawValue));
            label->setBuddy(recorder);
            form->addRow(label, recorder);
            recorders_.push_back(recorder);
        }
        layout->addWidget(group);
        auto* footer = makeFooter(this);
        texts_.push_back({footer, section.footer});
        layout->addWidget(footer);
    }
    layout->addStretch(1);

    retranslate();
    // Queued: the recorders read the language the state applies after it announces the change.
    connect(&appState_, &AppState::languagePreferenceChanged, this,
            &ShortcutsSettingsPane::retranslate, Qt::QueuedConnection);
}

void ShortcutsSettingsPane::retranslate() {
    setWindowTitle(appState_.text("Shortcuts"));
    for (const Text& entry : texts_) {
        const QString text = appState_.text(entry.key);
        if (auto* group = qobject_cast<QGroupBox*>(entry.widget)) {
            group->setTitle(text);
        } else if (auto* label = qobject_cast<QLabel*>(entry.widget)) {
            label->setText(text);
        }
    }
    for (auto* recorder : recorders_) {
        recorder->retranslate();
    }
}

}  // namespace tesvano
