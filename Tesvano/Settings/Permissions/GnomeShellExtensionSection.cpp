#include "Tesvano/Settings/Permissions/GnomeShellExtensionSection.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "Platform/TextInput/GnomeShell/GnomeShellExtension.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/Components/WarningLabel.h"
#include "Tesvano/Settings/SettingsStyle.h"
#include "TesvanoKit/Languages/TextKey.h"

namespace tesvano {

namespace {

using State = platform::GnomeShellExtensionState;

QLabel* wrapped(const QString& text, const char* name, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setWordWrap(true);
    return label;
}

}  // namespace

GnomeShellExtensionSection::GnomeShellExtensionSection(AppState& state,
                                                       platform::GnomeShellExtension& extension,
                                                       QWidget* parent)
    : QGroupBox(state.text("GNOME Shell"), parent), state_(state), extension_(extension) {
    setObjectName(QStringLiteral("gnomeShellSection"));
    rows_ = new QVBoxLayout(this);
    rows_->setSpacing(10);
    refresh();
    // A shell restart loads a newly enabled extension while Settings stays open.
    watch_ = extension_.watch([this] { refresh(); });
}

void GnomeShellExtensionSection::refresh() {
    const auto facts = extension_.facts();
    const State state = platform::classify(facts);
    setVisible(state != State::notGnome);
    if (static_cast<int>(state) == shownState_) {
        return;
    }
    shownState_ = static_cast<int>(state);
    while (QLayoutItem* item = rows_->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
    if (state == State::notGnome) {
        return;
    }
    if (state == State::active) {
        auto* label = wrapped(state_.text("Tesvano's GNOME Shell extension is enabled: layouts "
                                          "are selected through the shell and the lock holds."),
                              "gnomeExtensionActive", this);
        SettingsStyle::setTextLevel(label, SettingsStyle::Level::secondary);
        rows_->addWidget(label);
        return;
    }
    rows_->addWidget(wrapped(
        state_.text("GNOME Shell puts its own input source back as soon as another program "
                    "changes the layout, so on GNOME the lock cannot hold until Tesvano's GNOME "
                    "Shell extension is enabled. Until then Tesvano shows the current layout and "
                    "switches nothing."),
        "gnomeExtensionWhy", this));
    std::string_view status;
    QString detail;
    bool offerInstall = false;
    switch (state) {
        case State::notInstalled:
            status = N_("The extension is not installed.");
            offerInstall = true;
            break;
        case State::disabled:
            status = N_("The extension is installed but not enabled.");
            offerInstall = true;
            break;
        case State::userExtensionsOff:
            status =
                N_("The extension is enabled, but GNOME has turned off all user extensions. "
                   "Turn them on in GNOME's Extensions app.");
            break;
        case State::needsShellRestart:
            status =
                N_("The extension is enabled. GNOME Shell loads new extensions only when it "
                   "starts: press Alt+F2, type r and press Enter, or log out and back in.");
            break;
        case State::failed:
            status = N_("GNOME Shell could not run the extension.");
            detail = facts.shellError.empty()
                         ? state_.text("This version of GNOME Shell is not supported.")
                         : QString::fromStdString(facts.shellError);
            break;
        case State::notGnome:
        case State::active:
            break;
    }
    auto* warning = new WarningLabel(state_, status, this);
    warning->setObjectName(QStringLiteral("gnomeExtensionState"));
    rows_->addWidget(warning);
    if (!detail.isEmpty()) {
        auto* label = wrapped(detail, "gnomeExtensionError", this);
        label->setFont(SettingsStyle::footnote(label));
        SettingsStyle::setTextLevel(label, SettingsStyle::Level::secondary);
        rows_->addWidget(label);
    }
    if (offerInstall) {
        auto* button = new QPushButton(Symbols::icon("arrow.right.circle.fill"),
                                       state_.text("Install and Enable Extension…"), this);
        button->setObjectName(QStringLiteral("installGnomeExtension"));
        connect(button, &QPushButton::clicked, this, [this] { install(); });
        rows_->addWidget(button, 0, Qt::AlignLeft);
    }
}

void GnomeShellExtensionSection::install() {
    QMessageBox box(QMessageBox::Question, state_.text("Install GNOME Shell Extension"),
                    state_.text("Tesvano will copy its extension into "
                                "~/.local/share/gnome-shell/extensions and enable it for you. The "
                                "extension lets Tesvano list, read and select GNOME's input "
                                "sources, and does nothing else. GNOME Shell loads it only when "
                                "it starts: afterwards, restart the shell (Alt+F2, type r, Enter) "
                                "or log out and back in."),
                    QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("confirmGnomeExtension"));
    box.setTextFormat(Qt::PlainText);
    // Buttons that say what they do.
    QPushButton* confirm =
        box.addButton(state_.text("Install and Enable"), QMessageBox::AcceptRole);
    confirm->setObjectName(QStringLiteral("installAndEnable"));
    QPushButton* cancel = box.addButton(state_.text("Cancel"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    box.setDefaultButton(confirm);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() != confirm) {
        return;
    }
    if (auto done = extension_.installAndEnable(); !done) {
        QMessageBox::warning(this, state_.text("Install GNOME Shell Extension"),
                             state_.text("The extension could not be installed: %1")
                                 .arg(QString::fromStdString(done.error())));
    }
    refresh();
}

}  // namespace tesvano
