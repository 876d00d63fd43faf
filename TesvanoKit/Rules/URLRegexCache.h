#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace tesvano {

// Compiled "url-regex" patterns (ICU, case-insensitive), kept by pattern text so that rules
// sharing a text share one compiled form and nothing is compiled again on the next walk.
// Each search runs under a time limit: a pattern that backtracks without end would otherwise
// stall the main thread on every URL poll. Safe to use from several threads.
class URLRegexCache {
public:
    enum class Result {
        match,
        noMatch,
        invalidPattern,  // does not compile; kept so that it is not compiled again
        exhausted,       // ran out of time or of backtracking stack; counts as no match
    };

    struct Outcome {
        Result result = Result::noMatch;
        // Set on the first exhausted search of a pattern, so that the caller reports it once.
        bool firstExhaustion = false;
    };

    // About 25 ms of matching on a current desktop processor; ICU counts in engine steps.
    static constexpr std::int32_t defaultTimeLimitSteps = 200;
    static constexpr std::size_t defaultCapacity = 2048;

    explicit URLRegexCache(std::size_t capacity = defaultCapacity,
                           std::int32_t timeLimitSteps = defaultTimeLimitSteps);
    ~URLRegexCache();
    URLRegexCache(const URLRegexCache&) = delete;
    URLRegexCache& operator=(const URLRegexCache&) = delete;

    // The one cache the matcher uses.
    static URLRegexCache& shared();

    // Searches the whole of `text` (UTF-16) for `pattern`, unanchored.
    Outcome search(const std::string& pattern, std::u16string_view text);

    // Patterns held, and how many compilations were ever made (for tests and benchmarks).
    std::size_t size() const;
    std::uint64_t compilations() const;

private:
    struct Impl;
    mutable std::mutex mutex_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tesvano
