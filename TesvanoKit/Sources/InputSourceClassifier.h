#pragma once

#include <string>
#include <vector>

namespace tesvano::InputSourceClassifier {

// Chinese, Japanese, Korean, Vietnamese and Cantonese sources are input methods that often
// need the focused input context asked to take effect. True when the primary subtag of any language
// tag is one of theirs; false for no tags.
bool isCJKV(const std::vector<std::string>& languages);

}  // namespace tesvano::InputSourceClassifier
