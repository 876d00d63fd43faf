#pragma once

#include <QWidget>
#include <optional>

#include "Platform/Runtime/Runtime.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;

namespace tesvano {

class AppState;
class SectionFooter;

// The Updates tab: the channel, automatic checks, when the last check was, a check by hand,
// and while a background check's find waits, the way to install it. Says so when this copy
// cannot update itself.
class UpdatesSettingsPane final : public QWidget {
public:
    explicit UpdatesSettingsPane(AppState& state, QWidget* parent = nullptr);

    // "Never", or the date and time of the last check in the system's locale.
    static QString lastCheckedText(const AppState& state,
                                   const std::optional<platform::WallTime>& lastCheck);
    // Why checking is unavailable, as a text key; empty while the updater runs.
    static std::string_view unavailableReasonKey(const AppState& state);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    AppState& state_;
    QButtonGroup* channel_;
    QWidget* pendingRow_;
    QLabel* pendingLabel_;
    QCheckBox* automatic_;
    QLabel* lastChecked_;
    QPushButton* check_;
    QLabel* unavailable_;
    QWidget* channelFooter_;
};

}  // namespace tesvano
