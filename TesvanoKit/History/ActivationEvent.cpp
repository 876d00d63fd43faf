#include "TesvanoKit/History/ActivationEvent.h"

#include <functional>

namespace tesvano {

namespace {
struct Hasher {
    std::size_t h = 1469598103934665603ULL;
    void combine(std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); }
    void add(std::string_view s) { combine(std::hash<std::string_view>{}(s)); }
    void add(bool b) { combine(b ? 1 : 0); }
    void add(double d) { combine(std::hash<double>{}(d == 0.0 ? 0.0 : d)); }
    template <typename T, typename F>
    void addOptional(const std::optional<T>& value, F feed) {
        combine(value ? 1 : 0);
        if (value)
            feed(*value);
    }
};
}  // namespace

std::size_t hashValue(const InputSource& s) {
    Hasher h;
    h.add(s.id.rawValue);
    h.add(s.localizedName);
    h.add(s.isCJKV);
    return h.h;
}

std::size_t hashValue(const ActivationEvent& e) {
    Hasher h;
    h.add(e.timestamp.time_since_epoch().count());
    h.add(e.inputSource.rawValue);
    h.add(e.inputSourceName);
    h.add(rawValue(e.reason));
    h.add(e.durationMs);
    auto text = [&h](const std::string& s) { h.add(s); };
    h.addOptional(e.fromSourceName, text);
    h.addOptional(e.triggeringAppId, text);
    h.addOptional(e.ruleSource, [&h](RuleSource r) { h.add(rawValue(r)); });
    h.addOptional(e.matchedHost, text);
    return h.h;
}

}  // namespace tesvano
