#include "Platform/Accessibility/PasswordFocusProbe.h"

namespace tesvano::platform {

std::uint64_t PasswordFocusProbe::asked(Wait wait) {
    askedAt_ = now_();
    answer_.reset();
    wait_ = std::move(wait);
    return ++question_;
}

void PasswordFocusProbe::answered(std::uint64_t question, bool isPassword) {
    if (question != question_) {
        return;
    }
    answer_ = isPassword;
    wait_ = nullptr;
}

void PasswordFocusProbe::cleared() {
    ++question_;
    answer_ = false;
    wait_ = nullptr;
}

bool PasswordFocusProbe::isPasswordField() {
    if (answer_) {
        return *answer_;
    }
    const double left = askedAt_ + answerBudget - now_();
    if (!wait_ || left <= 0) {
        return false;
    }
    // Once: what did not come within the budget is not waited for again.
    const auto wait = std::exchange(wait_, nullptr);
    const std::uint64_t question = question_;
    if (const auto role = wait(left); role && question == question_) {
        answer_ = *role;
    }
    return answer_.value_or(false);
}

}  // namespace tesvano::platform
