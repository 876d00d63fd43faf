#include "Tesvano/Settings/URLRules/RuleEditorDialog.h"

#include <algorithm>

#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "Tesvano/App/AppState.h"
#include "Tesvano/Settings/Components/WarningLabel.h"
#include "Tesvano/Settings/SettingsStyle.h"
#include "Tesvano/Settings/URLRules/URLRuleListModel.h"
#include "TesvanoKit/Languages/TextKey.h"

namespace tesvano {

namespace {

constexpr std::array<URLMatchType, 4> matchTypes{URLMatchType::domainSuffix, URLMatchType::domain,
                                                 URLMatchType::domainKeyword,
                                                 URLMatchType::urlRegex};

std::string_view promptKey(URLMatchType type) {
    switch (type) {
        case URLMatchType::domainSuffix:
        case URLMatchType::domain:
            return N_("Host (e.g. github.com)");
        case URLMatchType::domainKeyword:
            return N_("Keyword (e.g. google)");
        case URLMatchType::urlRegex:
            return N_("Regex (e.g. /pull/)");
    }
    return "";
}

std::string_view helpKey(URLMatchType type) {
    switch (type) {
        case URLMatchType::domainSuffix:
            return N_("Matches the domain and all its subdomains.");
        case URLMatchType::domain:
            return "Matches only this exact domain, not its subdomains.";
        case URLMatchType::domainKeyword:
            return N_("Matches any domain that contains this text.");
        case URLMatchType::urlRegex:
            return N_(
                "Matches the full URL with a regular expression. Be specific so it doesn't "
                "match unrelated pages.");
    }
    return "";
}

QLabel* secondaryLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    SettingsStyle::setTextLevel(label, SettingsStyle::Level::secondary);
    return label;
}

// A field's name, in the normal text colour: a greyed name reads as a disabled field.
QLabel* fieldLabel(const QString& text, QWidget* field, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(field);
    return label;
}

}  // namespace

RuleEditorDialog::RuleEditorDialog(AppState& state, std::optional<URLRule> editing, QWidget* parent)
    : QDialog(parent),
      state_(state),
      isAdd_(!editing),
      draft_(editing ? URLRuleDraft::editing(*editing) : URLRuleDraft::forNewRule()) {
    setObjectName(QStringLiteral("urlRuleEditor"));
    setWindowTitle(state.text(isAdd_ ? "Add URL Rule" : N_("Edit URL Rule")));
    setFixedWidth(400 + 2 * 16);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(12);

    auto* title = new QLabel(windowTitle(), this);
    title->setFont(SettingsStyle::headline(this));
    column->addWidget(title);

    auto* typeRow = new QHBoxLayout;
    typeRow->setSpacing(8);
    matchType_ = new QComboBox(this);
    auto* typeLabel = fieldLabel(state.text("Match type"), matchType_, this);
    typeLabel->setObjectName(QStringLiteral("matchTypeLabel"));
    typeRow->addWidget(typeLabel);
    typeRow->addStretch(1);
    matchType_->setObjectName(QStringLiteral("matchType"));
    for (URLMatchType type : matchTypes) {
        matchType_->addItem(state.text(URLRuleListModel::matchTypeKey(type)),
                            static_cast<int>(type));
    }
    matchType_->setCurrentIndex(static_cast<int>(draft_.matchType));
    typeRow->addWidget(matchType_);
    column->addLayout(typeRow);

    auto* patternGroup = new QVBoxLayout;
    patternGroup->setSpacing(4);
    pattern_ = new QLineEdit(QString::fromStdString(draft_.pattern), this);
    pattern_->setObjectName(QStringLiteral("pattern"));
    patternGroup->addWidget(pattern_);
    warning_ = new WarningLabel(state, {}, this);
    warning_->setObjectName(QStringLiteral("patternWarning"));
    patternGroup->addWidget(warning_);
    help_ = secondaryLabel({}, this);
    help_->setObjectName(QStringLiteral("patternHelp"));
    help_->setWordWrap(true);
    help_->setFont(SettingsStyle::footnote(this));
    help_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The hint keeps the room of its longest text, so the dialog does not change height as the
    // match type changes.
    int tallest = 0;
    for (URLMatchType type : matchTypes) {
        help_->setText(state.text(helpKey(type)));
        tallest = std::max(tallest, help_->heightForWidth(400));
    }
    help_->setMinimumHeight(tallest);
    patternGroup->addWidget(help_);
    column->addLayout(patternGroup);

    // A segmented control: two buttons, one checked.
    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    actions_ = new QButtonGroup(this);
    lock_ = new QPushButton(state.text("Lock to"), this);
    switch_ = new QPushButton(state.text("Switch to"), this);
    for (QPushButton* segment : {lock_, switch_}) {
        segment->setCheckable(true);
        segment->setAutoDefault(false);
        segments->addWidget(segment, 1);
    }
    actions_->addButton(lock_, static_cast<int>(RuleAction::lock));
    actions_->addButton(switch_, static_cast<int>(RuleAction::switchOnce));
    (draft_.action == RuleAction::lock ? lock_ : switch_)->setChecked(true);
    column->addLayout(segments);

    auto* sourceRow = new QHBoxLayout;
    sourceRow->setSpacing(8);
    source_ = new QComboBox(this);
    source_->setObjectName(QStringLiteral("source"));
    sourceRow->addWidget(fieldLabel(state.text("Input source"), source_, this));
    sourceRow->addStretch(1);
    source_->addItem(state.text("Default"));
    for (const InputSource& available : state.availableSources()) {
        source_->addItem(QString::fromStdString(available.localizedName),
                         QString::fromStdString(available.id.rawValue));
    }
    // A source that is not installed shows no choice, and stays unless another is picked.
    source_->setCurrentIndex(
        draft_.source ? source_->findData(QString::fromStdString(draft_.source->rawValue)) : 0);
    sourceRow->addWidget(source_);
    column->addLayout(sourceRow);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    if (!isAdd_) {
        remove_ = new QPushButton(state.text("Remove"), this);
        remove_->setObjectName(QStringLiteral("remove"));
        remove_->setAutoDefault(false);
        QPalette palette = remove_->palette();
        palette.setColor(QPalette::ButtonText, QColor(0xD7, 0x30, 0x27));
        remove_->setPalette(palette);
        buttons->addWidget(remove_);
        connect(remove_, &QPushButton::clicked, this, [this] {
            if (onRemove) {
                onRemove();
            }
        });
    }
    buttons->addStretch(1);
    cancel_ = new QPushButton(state.text("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setAutoDefault(false);
    buttons->addWidget(cancel_);
    save_ = new QPushButton(state.text(isAdd_ ? "Add" : N_("Save")), this);
    save_->setObjectName(QStringLiteral("save"));
    save_->setDefault(true);
    buttons->addWidget(save_);
    column->addLayout(buttons);

    connect(cancel_, &QPushButton::clicked, this, &RuleEditorDialog::reject);
    connect(save_, &QPushButton::clicked, this, &RuleEditorDialog::save);
    connect(pattern_, &QLineEdit::textEdited, this, [this](const QString& text) {
        draft_.pattern = text.toStdString();
        recheck();
    });
    connect(matchType_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            draft_.matchType = matchTypes[static_cast<std::size_t>(index)];
            recheck();
        }
    });
    connect(actions_, &QButtonGroup::idClicked, this,
            [this](int id) { draft_.action = static_cast<RuleAction>(id); });
    connect(source_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index == 0) {
            draft_.source.reset();
        } else if (index > 0) {
            draft_.source = InputSourceID(source_->itemData(index).toString().toStdString());
        }
        recheck();
    });
    // Other rules or the default may change while the dialog is open.
    connect(&state_, &AppState::configChanged, this, [this] { recheck(); });
    recheck();
}

URLRuleDraftContext RuleEditorDialog::context() const {
    return {state_.config().urlRules, state_.config().defaultSourceID};
}

void RuleEditorDialog::recheck() {
    pattern_->setPlaceholderText(state_.text(promptKey(draft_.matchType)));
    const auto problem = URLRuleDraftCheck::problem(draft_, context());
    const auto message = URLRuleDraftCheck::messageKey(problem);
    warning_->setVisible(message.has_value());
    if (message) {
        warning_->setKey(*message);
    }
    help_->setVisible(!message);
    help_->setText(state_.text(helpKey(draft_.matchType)));
    save_->setEnabled(problem == URLRuleDraftProblem::none);
}

QString RuleEditorDialog::warning() const {
    return warning_->isHidden() ? QString() : warning_->text();
}

QString RuleEditorDialog::helpText() const {
    return help_->isHidden() ? QString() : help_->text();
}

void RuleEditorDialog::save() {
    // Checked again: nothing unchecked reaches the configuration.
    if (auto rule = URLRuleDraftCheck::save(draft_, context()); rule && onCommit) {
        onCommit(*rule);
    }
}

void RuleEditorDialog::reject() {
    if (onClose) {
        onClose();
    } else {
        QDialog::reject();
    }
}

}  // namespace tesvano
