#pragma once

#include <string>
#include <string_view>

namespace PermissionFlow {

// The panel's instruction as rich text: the template's "%@" take the two names in order,
// and "**…**" pairs of the template become bold. The names are escaped and put in after the
// template has been formatted, so a name with markup or link syntax shows as written. A
// template with unbalanced markers shows as it stands.
std::string instructionHTML(std::string_view templ, std::string_view appName,
                            std::string_view permissionName);

// `text` with &, <, > and " escaped for rich text.
std::string escapeHTML(std::string_view text);

}  // namespace PermissionFlow
