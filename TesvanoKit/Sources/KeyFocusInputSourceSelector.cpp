#include "TesvanoKit/Sources/KeyFocusInputSourceSelector.h"

namespace tesvano::KeyFocusInputSourceSelector {

std::string Failure::description() const {
    std::string text(rawValue(kind));
    if (kind == Kind::transport || kind == Kind::rejected) {
        text += "(" + std::to_string(code) + ")";
    }
    return text;
}

Result select(const platform::TextInputSource& /*source*/) {
    return std::unexpected(Failure::of(Failure::Kind::unavailable));
}

}  // namespace tesvano::KeyFocusInputSourceSelector
