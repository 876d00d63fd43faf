#include "TesvanoKit/Rules/URLRuleDrag.h"

#include <algorithm>
#include <unordered_set>

namespace tesvano {

namespace {

bool sameIDSet(std::span<const URLRule> a, std::span<const URLRule> b) {
    std::unordered_set<Uuid> left;
    for (const URLRule& rule : a) {
        left.insert(rule.id);
    }
    std::unordered_set<Uuid> right;
    for (const URLRule& rule : b) {
        right.insert(rule.id);
    }
    return left == right;
}

}  // namespace

void URLRuleDrag::begin(std::span<const URLRule> stored, const Uuid& id) {
    draft_.emplace(stored.begin(), stored.end());
    draggingID_ = id.string();
}

bool URLRuleDrag::reorder(std::string_view draggedID, const Uuid& target,
                          std::span<const URLRule> stored) {
    if (draggedID == target.string()) {
        return false;
    }
    std::vector<URLRule> current =
        draft_ ? *draft_ : std::vector<URLRule>(stored.begin(), stored.end());
    const auto from = std::ranges::find_if(
        current, [&](const URLRule& rule) { return rule.id.string() == draggedID; });
    const auto to = std::ranges::find(current, target, &URLRule::id);
    if (from == current.end() || to == current.end() || from == to) {
        return false;
    }
    const auto toIndex = to - current.begin();
    URLRule moved = std::move(*from);
    current.erase(from);
    // Into the shortened list at the hovered rule's old index: moving down lands below it.
    current.insert(current.begin() + toIndex, std::move(moved));
    draft_ = std::move(current);
    return true;
}

std::span<const URLRule> URLRuleDrag::displayedRules(std::span<const URLRule> stored) const {
    if (draggingID_ && draft_ && sameIDSet(*draft_, stored)) {
        return *draft_;
    }
    return stored;
}

bool URLRuleDrag::accepts(std::string_view droppedText) const {
    return draggingID_ && *draggingID_ == droppedText;
}

std::optional<std::vector<URLRule>> URLRuleDrag::drop(std::string_view droppedText) {
    if (!accepts(droppedText) || !draft_) {
        return std::nullopt;
    }
    std::vector<URLRule> draft = std::move(*draft_);
    end();
    return draft;
}

void URLRuleDrag::end() {
    draggingID_.reset();
    draft_.reset();
}

}  // namespace tesvano
