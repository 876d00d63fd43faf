#pragma once

#include <QAbstractTableModel>
#include <optional>

#include "Platform/Runtime/Runtime.h"
#include "TesvanoKit/History/ActivationLogRows.h"
#include "TesvanoKit/History/LogStore.h"

namespace tesvano {

// The Log pane's table: the activations of the last day, newest first, following the log
// store live. Texts are made once per entry, in the interface language.
class ActivationLogModel final : public QAbstractTableModel {
public:
    enum Column { time, source, app, reason, duration };
    static constexpr int columns = 5;
    // The line under the reason (empty when there is none).
    static constexpr int detailRole = Qt::UserRole + 1;

    ActivationLogModel(LogStore& store, SupportedLanguage language,
                       std::optional<std::string_view> timeZone = std::nullopt,
                       QObject* parent = nullptr);

    // Reads the store again; the window of the last day ends at `now`. Until the first call
    // the model is empty and ignores the store's changes.
    void reload(platform::WallTime now);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    const ActivationLogRows& rows() const { return rows_; }
    // How the stored source names read; before the first reload.
    void setSourceNames(ActivationLogText::SourceNames names) {
        rows_.sourceNames = std::move(names);
    }

private:
    void storeChanged(const LogStoreChange& change);

    LogStore& store_;
    SupportedLanguage language_;
    ActivationLogRows rows_;
    platform::WallTime now_{};
    bool loaded_ = false;
    platform::Registration observation_;
};

}  // namespace tesvano
