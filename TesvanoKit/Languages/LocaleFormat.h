#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Runtime/Runtime.h"

namespace tesvano {

// Times of day and numbers written the way a locale writes them (ICU). Making one costs a
// little; formatting with it is cheap, so a table formats all its rows with one instance.
class LocaleFormat {
public:
    // `languageCode` is a BCP 47 tag ("en", "zh-Hans", "pt-BR"); an unusable tag formats as
    // the root locale. `timeZone` is an Olson id; by default the system's zone.
    explicit LocaleFormat(std::string_view languageCode,
                          std::optional<std::string_view> timeZone = std::nullopt);
    ~LocaleFormat();
    LocaleFormat(const LocaleFormat&) = delete;
    LocaleFormat& operator=(const LocaleFormat&) = delete;

    // Hours, minutes and seconds, with an abbreviated AM/PM marker where the locale uses a
    // 12-hour clock.
    std::string timeOfDay(platform::WallTime time) const;
    // Exactly one fractional digit, with the locale's separators and digits. Values that are
    // not finite give "—".
    std::string oneDecimal(double value) const;
    // A whole number with the locale's grouping separators.
    std::string integer(std::int64_t value) const;

private:
    struct Formatters;
    std::unique_ptr<Formatters> formatters_;
};

}  // namespace tesvano
