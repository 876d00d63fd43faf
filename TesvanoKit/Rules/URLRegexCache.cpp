#include "TesvanoKit/Rules/URLRegexCache.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tesvano {

namespace {

struct Entry {
    std::unique_ptr<icu::RegexPattern> pattern;
    std::unique_ptr<icu::RegexMatcher> matcher;  // none when the pattern does not compile
};

// The matcher keeps a reference to its input; between searches it points here instead of at
// text the caller has since freed.
const icu::UnicodeString& idleInput() {
    static const icu::UnicodeString empty;
    return empty;
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What the matcher's callback checks: ICU calls it every few thousand backtracking steps.
struct Deadlines {
    const URLRegexCache::Clock* clock;
    double pattern;
    double evaluation;
    bool patternRanOut = false;
};

extern "C" UBool keepMatching(const void* context, int32_t) {
    auto* d = static_cast<Deadlines*>(const_cast<void*>(context));
    const double now = (*d->clock)();
    if (now >= d->pattern) {
        d->patternRanOut = true;
        return false;
    }
    return now < d->evaluation;
}

Entry compile(const std::string& text) {
    Entry entry;
    if (text.size() > URLRegexCache::maximumPatternBytes) {
        return entry;
    }
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    entry.pattern.reset(icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(text),
                                                   UREGEX_CASE_INSENSITIVE, parseError, status));
    if (U_FAILURE(status) || !entry.pattern) {
        entry.pattern.reset();
        return entry;
    }
    entry.matcher.reset(entry.pattern->matcher(status));
    if (U_FAILURE(status)) {
        entry.matcher.reset();
    }
    return entry;
}

}  // namespace

struct URLRegexCache::Impl {
    std::size_t capacity;
    double patternLimit;
    Clock clock;
    std::unordered_map<std::string, Entry> entries;
    // Kept apart from the compiled forms, which are dropped when the cache fills.
    std::unordered_set<std::string> exhausted;
    std::uint64_t compilations = 0;
    std::uint64_t searches = 0;
    std::vector<std::pair<std::shared_ptr<platform::Registration::State>, std::function<void()>>>
        observers;
};

URLRegexCache::URLRegexCache(std::size_t capacity, double patternLimit, Clock clock)
    : impl_(std::make_unique<Impl>()) {
    impl_->capacity = capacity == 0 ? 1 : capacity;
    impl_->patternLimit = patternLimit;
    impl_->clock = clock ? std::move(clock) : Clock(steadySeconds);
}

URLRegexCache::~URLRegexCache() = default;

URLRegexCache& URLRegexCache::shared() {
    static URLRegexCache cache;
    return cache;
}

URLRegexCache::Evaluation::Evaluation(const URLRegexCache& cache, double budget)
    : deadline_(cache.impl_->clock() + budget) {}

URLRegexCache::Outcome URLRegexCache::search(const std::string& pattern, std::u16string_view text,
                                             const Evaluation* evaluation) {
    Outcome outcome;
    std::vector<std::function<void()>> toNotify;
    {
        std::lock_guard lock(mutex_);
        if (impl_->exhausted.contains(pattern)) {
            return {Result::exhausted, false};
        }
        const double start = impl_->clock();
        if (evaluation != nullptr && start >= evaluation->deadline()) {
            return {Result::outOfBudget, false};
        }
        auto it = impl_->entries.find(pattern);
        if (it == impl_->entries.end()) {
            // Rule lists are small; only a stream of edited patterns fills the cache, and
            // starting afresh then is cheaper than tracking use.
            if (impl_->entries.size() >= impl_->capacity) {
                impl_->entries.clear();
            }
            it = impl_->entries.emplace(pattern, compile(pattern)).first;
            ++impl_->compilations;
        }
        Entry& entry = it->second;
        if (!entry.matcher) {
            return {Result::invalidPattern, false};
        }
        if (text.size() > static_cast<std::size_t>(INT32_MAX)) {
            return {Result::noMatch, false};
        }
        ++impl_->searches;

        Deadlines deadlines{&impl_->clock, start + impl_->patternLimit,
                            evaluation != nullptr ? evaluation->deadline() : HUGE_VAL};
        const icu::UnicodeString input(false, text.data(), static_cast<std::int32_t>(text.size()));
        UErrorCode status = U_ZERO_ERROR;
        entry.matcher->setMatchCallback(keepMatching, &deadlines, status);
        entry.matcher->reset(input);
        const bool found = entry.matcher->find(status);
        entry.matcher->reset(idleInput());
        if (U_SUCCESS(status)) {
            return {found ? Result::match : Result::noMatch, false};
        }
        if (status == U_REGEX_STOPPED_BY_CALLER && !deadlines.patternRanOut) {
            return {Result::outOfBudget, false};
        }
        // Out of its own time, or of backtracking stack: it would be again next time.
        impl_->exhausted.insert(pattern);
        outcome = {Result::exhausted, true};
        std::erase_if(impl_->observers, [](const auto& o) { return o.first->cancelled; });
        for (const auto& [state, handler] : impl_->observers) {
            toNotify.push_back(handler);
        }
    }
    for (const auto& handler : toNotify) {
        handler();
    }
    return outcome;
}

bool URLRegexCache::isExhausted(const std::string& pattern) const {
    std::lock_guard lock(mutex_);
    return impl_->exhausted.contains(pattern);
}

platform::Registration URLRegexCache::observeExhaustion(std::function<void()> handler) {
    auto state = std::make_shared<platform::Registration::State>();
    std::lock_guard lock(mutex_);
    impl_->observers.emplace_back(state, std::move(handler));
    return platform::Registration(std::move(state));
}

std::size_t URLRegexCache::size() const {
    std::lock_guard lock(mutex_);
    return impl_->entries.size();
}

std::uint64_t URLRegexCache::compilations() const {
    std::lock_guard lock(mutex_);
    return impl_->compilations;
}

std::uint64_t URLRegexCache::searches() const {
    std::lock_guard lock(mutex_);
    return impl_->searches;
}

}  // namespace tesvano
