#include "TesvanoKit/Rules/URLRegexCache.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <climits>
#include <unordered_map>

namespace tesvano {

namespace {

struct Entry {
    std::unique_ptr<icu::RegexPattern> pattern;
    std::unique_ptr<icu::RegexMatcher> matcher;  // none when the pattern does not compile
    bool exhaustionReported = false;
};

// The matcher keeps a reference to its input; between searches it points here instead of at
// text the caller has since freed.
const icu::UnicodeString& idleInput() {
    static const icu::UnicodeString empty;
    return empty;
}

Entry compile(const std::string& text, std::int32_t timeLimitSteps) {
    Entry entry;
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    entry.pattern.reset(icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(text),
                                                   UREGEX_CASE_INSENSITIVE, parseError, status));
    if (U_FAILURE(status) || !entry.pattern) {
        entry.pattern.reset();
        return entry;
    }
    entry.matcher.reset(entry.pattern->matcher(status));
    if (U_SUCCESS(status) && entry.matcher) {
        entry.matcher->setTimeLimit(timeLimitSteps, status);
    }
    if (U_FAILURE(status)) {
        entry.matcher.reset();
    }
    return entry;
}

}  // namespace

struct URLRegexCache::Impl {
    std::size_t capacity;
    std::int32_t timeLimitSteps;
    std::unordered_map<std::string, Entry> entries;
    std::uint64_t compilations = 0;
};

URLRegexCache::URLRegexCache(std::size_t capacity, std::int32_t timeLimitSteps)
    : impl_(std::make_unique<Impl>(Impl{capacity == 0 ? 1 : capacity, timeLimitSteps, {}, 0})) {}

URLRegexCache::~URLRegexCache() = default;

URLRegexCache& URLRegexCache::shared() {
    static URLRegexCache cache;
    return cache;
}

URLRegexCache::Outcome URLRegexCache::search(const std::string& pattern, std::u16string_view text) {
    std::lock_guard lock(mutex_);
    auto it = impl_->entries.find(pattern);
    if (it == impl_->entries.end()) {
        // Rule lists are small; only a stream of edited patterns fills the cache, and starting
        // afresh then is cheaper than tracking use.
        if (impl_->entries.size() >= impl_->capacity) {
            impl_->entries.clear();
        }
        it = impl_->entries.emplace(pattern, compile(pattern, impl_->timeLimitSteps)).first;
        ++impl_->compilations;
    }
    Entry& entry = it->second;
    if (!entry.matcher) {
        return {Result::invalidPattern, false};
    }
    if (text.size() > static_cast<std::size_t>(INT32_MAX)) {
        return {Result::exhausted, false};
    }

    const icu::UnicodeString input(false, text.data(), static_cast<std::int32_t>(text.size()));
    UErrorCode status = U_ZERO_ERROR;
    entry.matcher->reset(input);
    const bool found = entry.matcher->find(status);
    entry.matcher->reset(idleInput());
    if (U_FAILURE(status)) {
        const bool first = !entry.exhaustionReported;
        entry.exhaustionReported = true;
        return {Result::exhausted, first};
    }
    return {found ? Result::match : Result::noMatch, false};
}

std::size_t URLRegexCache::size() const {
    std::lock_guard lock(mutex_);
    return impl_->entries.size();
}

std::uint64_t URLRegexCache::compilations() const {
    std::lock_guard lock(mutex_);
    return impl_->compilations;
}

}  // namespace tesvano
