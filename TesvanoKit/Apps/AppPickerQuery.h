#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "TesvanoKit/Apps/InstalledApp.h"

// The decisions of the application picker: which applications a search shows, and which typed
// identity is accepted.
namespace tesvano::AppPickerQuery {

// Whether the name or the identity contains the query, ignoring case (full Unicode folding).
// An empty query matches everything; a query of spaces is a query like any other.
bool matches(const InstalledApp& app, std::string_view query);
std::vector<InstalledApp> filtered(const std::vector<InstalledApp>& apps, std::string_view query);

// Case-folded text for repeated containment tests.
std::u16string folded(std::string_view text);
bool containsFolded(const std::u16string& foldedText, const std::u16string& foldedQuery);

// The identity a typed text stands for, trimmed of white space; empty when it is refused: an
// identity may hold no white space, except the program name of a "process:" key.
std::string normalizedManualAppId(std::string_view text);

}  // namespace tesvano::AppPickerQuery
