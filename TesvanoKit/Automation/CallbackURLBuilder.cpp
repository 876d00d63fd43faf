#include "TesvanoKit/Automation/CallbackURLBuilder.h"

#include <vector>

namespace tesvano::CallbackURLBuilder {

std::string successURL(std::string_view target, const std::optional<std::string>& resultText) {
    if (!resultText) {
        return std::string(target);
    }
    const QueryItem items[] = {{"result", *resultText}};
    return appendQueryItems(target, items);
}

std::string errorURL(std::string_view target, std::string_view code, std::string_view message) {
    const QueryItem items[] = {{"errorCode", std::string(code)},
                               {"errorMessage", std::string(message)}};
    return appendQueryItems(target, items);
}

std::string appendQueryItems(std::string_view url, std::span<const QueryItem> items) {
    if (items.empty()) {
        return std::string(url);
    }
    const auto components = URLComponents::split(url);
    if (!components) {
        return std::string(url);
    }
    std::string added;
    for (const QueryItem& item : items) {
        if (!added.empty()) {
            added.push_back('&');
        }
        added += percentEncoded(item.name);
        added.push_back('=');
        added += percentEncoded(item.value);
    }
    // In a URL the first "#" starts the fragment, and the query, if any, ends right before it.
    std::string result = components->text;
    const auto fragment = result.find('#');
    const auto insertAt = fragment == std::string::npos ? result.size() : fragment;
    std::string separator;
    if (!components->query) {
        separator = "?";
    } else if (!components->query->empty()) {
        separator = "&";
    }
    result.insert(insertAt, separator + added);
    return result;
}

std::optional<std::string> resultText(const nlohmann::json& result) {
    if (!result.is_object() && !result.is_array()) {
        return std::nullopt;
    }
    return result.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace tesvano::CallbackURLBuilder
