#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tesvano::platform {

// One stored preference. The kinds stay apart: data is never a string, an integer never a
// double, so a reader can tell exactly what was written.
class DefaultsValue {
public:
    using Data = std::vector<std::uint8_t>;
    using Array = std::vector<DefaultsValue>;
    using Dictionary = std::map<std::string, DefaultsValue>;

    enum class Kind { boolean, integer, real, string, data, array, dictionary };

    DefaultsValue(bool v) : value_(v) {}
    DefaultsValue(std::int64_t v) : value_(v) {}
    DefaultsValue(int v) : value_(static_cast<std::int64_t>(v)) {}
    DefaultsValue(double v) : value_(v) {}
    DefaultsValue(std::string v) : value_(std::move(v)) {}
    DefaultsValue(const char* v) : value_(std::string(v)) {}
    DefaultsValue(Data v) : value_(std::move(v)) {}
    DefaultsValue(Array v) : value_(std::move(v)) {}
    DefaultsValue(Dictionary v) : value_(std::move(v)) {}

    static DefaultsValue data(std::string_view bytes) {
        return DefaultsValue(Data(bytes.begin(), bytes.end()));
    }

    Kind kind() const { return static_cast<Kind>(value_.index()); }

    const bool* asBool() const { return std::get_if<bool>(&value_); }
    const std::int64_t* asInteger() const { return std::get_if<std::int64_t>(&value_); }
    const double* asDouble() const { return std::get_if<double>(&value_); }
    const std::string* asString() const { return std::get_if<std::string>(&value_); }
    const Data* asData() const { return std::get_if<Data>(&value_); }
    const Array* asArray() const { return std::get_if<Array>(&value_); }
    const Dictionary* asDictionary() const { return std::get_if<Dictionary>(&value_); }

    bool operator==(const DefaultsValue&) const = default;

private:
    std::variant<bool, std::int64_t, double, std::string, Data, Array, Dictionary> value_;
};

}  // namespace tesvano::platform
