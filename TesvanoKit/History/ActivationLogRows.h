#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "TesvanoKit/History/ActivationLogEntry.h"
#include "TesvanoKit/Languages/LocaleFormat.h"
#include "TesvanoKit/Languages/SupportedLanguage.h"

namespace tesvano {

// What the Log pane shows of an entry, decided apart from any widget.
namespace ActivationLogText {

// The text key of the stored reason; a reason this version does not know is its own key.
std::string_view reasonKey(std::string_view reasonRaw);
// Every text the reason column can show: the reasons' keys, and the detail lines' keys.
std::vector<std::string_view> reasonKeys();
std::vector<std::string_view> detailKeys();

// The small line under the reason: the matched host of a URL match (verbatim), else the
// text key of a known rule source; none otherwise.
struct Detail {
    std::string text;
    bool isKey = false;

    bool operator==(const Detail&) const = default;
};
std::optional<Detail> detail(const ActivationLogEntry& entry);

// How a stored source name reads now (a layout's in the interface language); none: as stored.
using SourceNames = std::function<std::string(std::string_view)>;

// "From → To" when the source before is known and differs, else the source alone.
std::string sourceText(const ActivationLogEntry& entry, const SourceNames& names = {});
// The application's name, else its identity, else "—".
std::string appText(const ActivationLogEntry& entry);

}  // namespace ActivationLogText

// One row of the table with its texts made once, in the interface language.
struct ActivationLogRow {
    std::int64_t id = 0;
    platform::WallTime timestamp;
    std::string time;
    std::string source;
    std::string app;
    std::string reason;
    std::string detail;  // empty: no detail line
    std::string duration;
};

// The rows of the Log pane: the entries of the last day, newest first. An entry belongs to
// the window when it is strictly newer than the cut-off, so one exactly a day old is out.
class ActivationLogRows {
public:
    static constexpr double window = 86400.0;  // seconds

    explicit ActivationLogRows(SupportedLanguage language,
                               std::optional<std::string_view> timeZone = std::nullopt);

    // Replaces the rows with the entries of the window ending at `now`, in any order.
    void reset(std::span<const ActivationLogEntry> entries, platform::WallTime now);
    // Where a new entry goes among the rows: before every row of the same time or older (of
    // two equal times the later record is newer). None when it is outside the window.
    std::optional<std::size_t> position(platform::WallTime timestamp) const;
    // Places the entry there and returns its index.
    std::optional<std::size_t> insert(const ActivationLogEntry& entry);

    const std::vector<ActivationLogRow>& rows() const { return rows_; }
    platform::WallTime cutoff() const { return cutoff_; }
    bool isInWindow(platform::WallTime timestamp) const { return timestamp > cutoff_; }

    // How a duration in milliseconds reads: one fractional digit and the unit, in the
    // interface language.
    std::string durationText(double milliseconds) const;

    // How the stored source names read; set before the rows are made.
    ActivationLogText::SourceNames sourceNames;

private:
    ActivationLogRow makeRow(const ActivationLogEntry& entry) const;

    SupportedLanguage language_;
    LocaleFormat format_;
    platform::WallTime cutoff_{};
    std::vector<ActivationLogRow> rows_;
};

}  // namespace tesvano
