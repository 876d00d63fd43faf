#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "TesvanoKit/Rules/LockConfiguration.h"

namespace tesvano {

// The state of one drag that reorders the URL rule list: the id of the dragged rule and the
// draft order shown while the drag lasts. Only a drop that carries the dragged rule's id
// yields the draft for committing; a drag that ends any other way leaves the stored order
// shown and nothing to commit.
class URLRuleDrag {
public:
    bool isDragging() const { return draggingID_.has_value(); }
    const std::optional<std::string>& draggingID() const { return draggingID_; }
    const std::optional<std::vector<URLRule>>& draftOrder() const { return draft_; }

    // A drag of the rule `id` begins over the stored rules.
    void begin(std::span<const URLRule> stored, const Uuid& id);

    // The dragged rule (its id text) hovers the rule `target`: the dragged rule takes the
    // hovered rule's place in the draft. Answers whether the draft changed.
    bool reorder(std::string_view draggedID, const Uuid& target, std::span<const URLRule> stored);

    // The rules to show: the draft while it holds exactly the stored rules, else the stored.
    std::span<const URLRule> displayedRules(std::span<const URLRule> stored) const;

    // A drop carrying `droppedText`. When it is the dragged rule's id, the drag ends and the
    // draft is handed back for committing; anything else is not ours and changes nothing.
    std::optional<std::vector<URLRule>> drop(std::string_view droppedText);

    // Whether a drop carrying `droppedText` would be taken.
    bool accepts(std::string_view droppedText) const;

    // The drag ended without a drop on us (Escape, dropped elsewhere), or the editor opened.
    void end();

private:
    std::optional<std::string> draggingID_;
    std::optional<std::vector<URLRule>> draft_;
};

}  // namespace tesvano
