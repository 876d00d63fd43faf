#include "TesvanoKit/Sources/InputContextSourceSelector.h"

namespace tesvano::InputContextSourceSelector {

std::string Failure::description() const {
    std::string text(rawValue(kind));
    if (kind == Kind::transport || kind == Kind::rejected) {
        text.append("(").append(std::to_string(code)).append(")");
    }
    return text;
}

Result select(platform::TextInputSources& system, const platform::TextInputSource& source) {
    if (!source.id) {
        return std::unexpected(Failure::of(Failure::Kind::serialization));
    }
    const auto answer = system.selectInFocusedContext(source);
    if (answer) {
        return {};
    }
    using Kind = platform::FocusedSelectionFailure::Kind;
    switch (answer.error().kind) {
        case Kind::noFocus:
            return std::unexpected(Failure::of(Failure::Kind::noFocus));
        case Kind::transport:
            return std::unexpected(Failure::transport(answer.error().code));
        case Kind::rejected:
            return std::unexpected(Failure::rejected(answer.error().code));
        case Kind::invalidReply:
            return std::unexpected(Failure::of(Failure::Kind::invalidReply));
        case Kind::unavailable:
            break;
    }
    return std::unexpected(Failure::of(Failure::Kind::unavailable));
}

}  // namespace tesvano::InputContextSourceSelector
