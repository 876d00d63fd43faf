#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "Platform/Runtime/Runtime.h"

namespace tesvano {

// Compiled "url-regex" patterns (ICU, case-insensitive), kept by pattern text so that rules
// sharing a text share one compiled form and nothing is compiled again on the next walk.
// Searches run under time limits: one per pattern and one for a whole walk over the rules
// (an `Evaluation`), so that no list of patterns can stall the main thread past the URL poll.
// A pattern that runs out of its own time is remembered and never run again; an edited
// pattern is another text and starts afresh. Safe to use from several threads.
class URLRegexCache {
public:
    enum class Result {
        match,
        noMatch,
        invalidPattern,  // does not compile (or is too long); kept so that it is not compiled again
        exhausted,       // ran out of its time or of backtracking stack, now or before: no match
        outOfBudget,     // not run to the end: the evaluation's time was spent; no match
    };

    struct Outcome {
        Result result = Result::noMatch;
        // Set on the first exhausted search of a pattern, so that the caller reports it once.
        bool firstExhaustion = false;
    };

    // Monotonic seconds.
    using Clock = std::function<double()>;

    static constexpr double defaultPatternLimit = 0.02;
    static constexpr double defaultEvaluationBudget = 0.05;
    // Longer texts are not compiled at all; no pattern a person writes comes near it.
    static constexpr std::size_t maximumPatternBytes = 32 * 1024;
    static constexpr std::size_t defaultCapacity = 2048;

    explicit URLRegexCache(std::size_t capacity = defaultCapacity,
                           double patternLimit = defaultPatternLimit, Clock clock = {});
    ~URLRegexCache();
    URLRegexCache(const URLRegexCache&) = delete;
    URLRegexCache& operator=(const URLRegexCache&) = delete;

    // The one cache the matcher uses.
    static URLRegexCache& shared();

    // The time one walk over a rule list may spend in searches, all patterns together.
    class Evaluation {
    public:
        explicit Evaluation(const URLRegexCache& cache, double budget = defaultEvaluationBudget);
        double deadline() const { return deadline_; }

    private:
        double deadline_;
    };

    // Searches the whole of `text` (UTF-16) for `pattern`, unanchored, within the pattern's
    // limit and, when given, what is left of the evaluation's budget.
    Outcome search(const std::string& pattern, std::u16string_view text,
                   const Evaluation* evaluation = nullptr);

    // Whether `pattern` ran out of time before and is passed over since.
    bool isExhausted(const std::string& pattern) const;
    // Called (on the searching thread, outside the cache's lock) whenever a pattern is found
    // to run out of time, until the registration is dropped.
    platform::Registration observeExhaustion(std::function<void()> handler);

    // Patterns held, how many compilations and how many searches were ever made (for tests
    // and benchmarks).
    std::size_t size() const;
    std::uint64_t compilations() const;
    std::uint64_t searches() const;

private:
    struct Impl;
    mutable std::mutex mutex_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tesvano
