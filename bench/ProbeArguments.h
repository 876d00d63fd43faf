// The words a probe of bench/ takes: options with a value, flags and words in order, each
// known beforehand. --help prints the usage; a word it does not know, a missing value or a
// number it cannot use is refused with the usage, so that a mistyped run measures nothing
// rather than something else (a size of 0, a folder called --help).
#pragma once

#include <charconv>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tesvano::bench {

class ProbeArguments {
public:
    explicit ProbeArguments(std::string usage) : usage_(std::move(usage)) {}

    // `--name N`, a whole number within [min, max].
    ProbeArguments& number(std::string name, long& value, long min, long max) {
        options_.push_back({std::move(name), [&value, min, max](std::string_view word) {
                                return readNumber(word, value, min, max);
                            }});
        return *this;
    }
    // `--name TEXT`, any text but an empty one.
    ProbeArguments& text(std::string name, std::string& value) {
        options_.push_back({std::move(name), [&value](std::string_view word) {
                                value = word;
                                return word.empty() ? std::optional<std::string>("is empty")
                                                    : std::nullopt;
                            }});
        return *this;
    }
    ProbeArguments& flag(std::string name, bool& value) {
        flags_.push_back({std::move(name), &value});
        return *this;
    }
    // A word in order (none of them may start with "-"), optional unless `required`.
    ProbeArguments& word(std::string what, long& value, long min, long max, bool required = false) {
        words_.push_back({std::move(what), required, [&value, min, max](std::string_view word) {
                              return readNumber(word, value, min, max);
                          }});
        return *this;
    }
    ProbeArguments& word(std::string what, std::string& value, bool required = false) {
        words_.push_back({std::move(what), required, [&value](std::string_view word) {
                              value = word;
                              return std::optional<std::string>();
                          }});
        return *this;
    }

    // The exit status to end with (0 after --help, 2 on a refused word), or none to go on.
    std::optional<int> parse(int argc, char** argv) const {
        std::size_t next = 0;
        for (int i = 1; i < argc; ++i) {
            const std::string_view arg = argv[i];
            if (arg == "--help" || arg == "-h") {
                std::printf("%s", usage_.c_str());
                return 0;
            }
            if (const auto* set = findFlag(arg)) {
                *set->value = true;
                continue;
            }
            if (const auto* option = findOption(arg)) {
                if (i + 1 == argc) {
                    return refuse(std::string(arg) + " needs a value");
                }
                if (auto wrong = option->read(argv[++i])) {
                    return refuse(std::string(arg) + " " + argv[i] + ": " + *wrong);
                }
                continue;
            }
            if (arg.starts_with('-') || next == words_.size()) {
                return refuse("unknown word " + std::string(arg));
            }
            if (auto wrong = words_[next].read(arg)) {
                return refuse(words_[next].what + " " + std::string(arg) + ": " + *wrong);
            }
            ++next;
        }
        if (next < words_.size() && words_[next].required) {
            return refuse("missing " + words_[next].what);
        }
        return std::nullopt;
    }

private:
    using Reader = std::function<std::optional<std::string>(std::string_view)>;
    struct Option {
        std::string name;
        Reader read;
    };
    struct Flag {
        std::string name;
        bool* value;
    };
    struct Word {
        std::string what;
        bool required;
        Reader read;
    };

    static std::optional<std::string> readNumber(std::string_view word, long& value, long min,
                                                 long max) {
        long number = 0;
        const auto [at, error] = std::from_chars(word.data(), word.data() + word.size(), number);
        if (word.empty() || error != std::errc() || at != word.data() + word.size() ||
            number < min || number > max) {
            return "not a whole number from " + std::to_string(min) + " to " + std::to_string(max);
        }
        value = number;
        return std::nullopt;
    }
    const Flag* findFlag(std::string_view name) const {
        for (const auto& flag : flags_) {
            if (flag.name == name) {
                return &flag;
            }
        }
        return nullptr;
    }
    const Option* findOption(std::string_view name) const {
        for (const auto& option : options_) {
            if (option.name == name) {
                return &option;
            }
        }
        return nullptr;
    }
    int refuse(const std::string& why) const {
        std::fprintf(stderr, "%s\n%s", why.c_str(), usage_.c_str());
        return 2;
    }

    std::string usage_;
    std::vector<Option> options_;
    std::vector<Flag> flags_;
    std::vector<Word> words_;
};

}  // namespace tesvano::bench
