#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

namespace tesvano::platform {

// Whether the focused element is a password field, from the role its application is asked
// for, without waiting, when the focus reaches it. A question still on its way when the lock
// asks is waited for, but only within `answerBudget` of when it was put: a switch comes that
// long after an activation at the earliest, so a field focused just before it is known for
// what it is, while an application that never answers holds up no switch beyond that.
class PasswordFocusProbe {
public:
    static constexpr double answerBudget = 0.04;  // seconds

    // Waits at most `seconds` for the role of the element asked about: true for a password
    // field, none when no answer came in time.
    using Wait = std::function<std::optional<bool>(double seconds)>;

    // `now`: a steady clock in seconds.
    explicit PasswordFocusProbe(std::function<double()> now) : now_(std::move(now)) {}

    // The focus reached an element whose role was asked: the question's number, which its
    // answer names. `wait` (may be empty) waits for that role.
    std::uint64_t asked(Wait wait);
    // The answer to a question; one to an earlier question than the last is dropped.
    void answered(std::uint64_t question, bool isPassword);
    // The focus left, or no question could be put: an ordinary element.
    void cleared();

    // False until it is known to be a password field; waits for an answer on its way once,
    // within the budget.
    bool isPasswordField();

private:
    std::function<double()> now_;
    std::uint64_t question_ = 0;
    double askedAt_ = 0;
    std::optional<bool> answer_;
    Wait wait_;
};

}  // namespace tesvano::platform
