#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "TesvanoKit/Rules/URLComponents.h"

// The reply URLs of the automation interface: the caller's x-success or x-error URL with the
// result or the error appended as query items.
namespace tesvano::CallbackURLBuilder {

// The success target with an item "result" holding `resultText`; the target unchanged without
// a text.
std::string successURL(std::string_view target, const std::optional<std::string>& resultText);

// The error target with "errorCode" and then "errorMessage".
std::string errorURL(std::string_view target, std::string_view code, std::string_view message);

// `url` with `items` after its existing query items, which stay as they are (also those with
// the same names). Scheme, authority, path and fragment are kept. `url` unchanged when there
// are no items or it is no URL.
std::string appendQueryItems(std::string_view url, std::span<const QueryItem> items);

// A command's result as reply text: compact JSON with the keys of every object sorted (the
// json type keeps them so); invalid UTF-8 is replaced, not thrown on. Only an object or an
// array makes a result; anything else gives none.
std::optional<std::string> resultText(const nlohmann::json& result);

}  // namespace tesvano::CallbackURLBuilder
