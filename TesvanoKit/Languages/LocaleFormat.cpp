#include "TesvanoKit/Languages/LocaleFormat.h"

#include <unicode/dtptngen.h>
#include <unicode/numberformatter.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <cmath>

namespace tesvano {

namespace {

constexpr std::string_view kNoValue = "\u2014";

std::string utf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

}  // namespace

struct LocaleFormat::Formatters {
    std::unique_ptr<icu::SimpleDateFormat> time;
    icu::number::LocalizedNumberFormatter decimal;
    icu::number::LocalizedNumberFormatter whole;
};

LocaleFormat::LocaleFormat(std::string_view languageCode, std::optional<std::string_view> timeZone)
    : formatters_(std::make_unique<Formatters>()) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale = icu::Locale::forLanguageTag(
        icu::StringPiece(languageCode.data(), static_cast<int32_t>(languageCode.size())), status);
    if (U_FAILURE(status)) {
        locale = icu::Locale::getRoot();
    }

    // "j" is the locale's preferred hour cycle, so a 12-hour locale gets its AM/PM marker.
    status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(locale, status));
    icu::UnicodeString pattern(u"HH:mm:ss");
    if (U_SUCCESS(status)) {
        icu::UnicodeString best = generator->getBestPattern(u"jmmss", status);
        if (U_SUCCESS(status)) {
            pattern = best;
        }
    }
    status = U_ZERO_ERROR;
    formatters_->time = std::make_unique<icu::SimpleDateFormat>(pattern, locale, status);
    if (U_FAILURE(status)) {
        status = U_ZERO_ERROR;
        formatters_->time =
            std::make_unique<icu::SimpleDateFormat>(u"HH:mm:ss", icu::Locale::getRoot(), status);
    }
    if (timeZone) {
        formatters_->time->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(
            icu::StringPiece(timeZone->data(), static_cast<int32_t>(timeZone->size())))));
    }

    formatters_->decimal = icu::number::NumberFormatter::withLocale(locale).precision(
        icu::number::Precision::fixedFraction(1));
    formatters_->whole = icu::number::NumberFormatter::withLocale(locale).precision(
        icu::number::Precision::integer());
}

LocaleFormat::~LocaleFormat() = default;

std::string LocaleFormat::timeOfDay(platform::WallTime time) const {
    const double seconds = time.time_since_epoch().count();
    if (!std::isfinite(seconds)) {
        return std::string(kNoValue);
    }
    icu::UnicodeString text;
    formatters_->time->format(static_cast<UDate>(seconds * 1000.0), text);
    return utf8(text);
}

std::string LocaleFormat::oneDecimal(double value) const {
    if (!std::isfinite(value)) {
        return std::string(kNoValue);
    }
    UErrorCode status = U_ZERO_ERROR;
    auto text = formatters_->decimal.formatDouble(value, status).toString(status);
    return U_SUCCESS(status) ? utf8(text) : std::string(kNoValue);
}

std::string LocaleFormat::integer(std::int64_t value) const {
    UErrorCode status = U_ZERO_ERROR;
    auto text = formatters_->whole.formatInt(value, status).toString(status);
    return U_SUCCESS(status) ? utf8(text) : std::to_string(value);
}

}  // namespace tesvano
