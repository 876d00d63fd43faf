#include "TesvanoKit/Sources/TextInputSourceProvider.h"

#include "Platform/Log/Log.h"
#include "TesvanoKit/Sources/InputSourceClassifier.h"

namespace tesvano {

namespace {

const platform::Logger& logger() {
    static const platform::Logger instance("TextInputSourceProvider");
    return instance;
}

std::optional<InputSource> convert(const platform::TextInputSource& source) {
    if (!source.id) {
        return std::nullopt;
    }
    return InputSource{
        .id = InputSourceID(*source.id),
        .localizedName = source.localizedName.value_or(*source.id),
        .isCJKV =
            InputSourceClassifier::isCJKV(source.languages.value_or(std::vector<std::string>{})),
        .backend = source.backend,
    };
}

// The system's source behind one of ours: its id and the backend that listed it.
platform::TextInputSource systemSource(const InputSource& source) {
    platform::TextInputSource out;
    out.id = source.id.rawValue;
    out.backend = source.backend;
    return out;
}

}  // namespace

TextInputSourceProvider::TextInputSourceProvider(platform::TextInputSources& system,
                                                 InputContextSelect inputContextSelect)
    : system_(system), inputContextSelect_(std::move(inputContextSelect)) {
    if (!inputContextSelect_) {
        inputContextSelect_ = [this](const platform::TextInputSource& source) {
            return InputContextSourceSelector::select(system_, source);
        };
    }
}

std::optional<InputSource> TextInputSourceProvider::currentSource() {
    const auto current = system_.currentKeyboardSource();
    auto converted = current ? convert(*current) : std::nullopt;
    inputContextSelection_.confirm(converted ? std::optional(converted->id) : std::nullopt);
    return converted;
}

std::vector<InputSource> TextInputSourceProvider::selectableSources() {
    std::vector<InputSource> out;
    for (const auto& source : system_.sources()) {
        if (auto converted = convert(source)) {
            out.push_back(std::move(*converted));
        }
    }
    return out;
}

std::optional<InputSource> TextInputSourceProvider::source(const InputSourceID& id) {
    const auto found = system_.sourceWithID(id.rawValue);
    return found ? convert(*found) : std::nullopt;
}

bool TextInputSourceProvider::canSelect(const InputSource& source) {
    return system_.canSelect(systemSource(source));
}

bool TextInputSourceProvider::select(const InputSource& source) {
    const auto target = systemSource(source);
    if (source.isCJKV) {
        if (inputContextSelection_.pending == source.id) {
            // The input context claimed success last time but the framework never showed the
            // source as current: do not trust it twice in a row.
            inputContextSelection_.pending.reset();
            logger().debug(
                "Input-context selection of %{public}s was never confirmed; selecting the source "
                "directly",
                source.id.rawValue);
        } else if (const auto viaContext = inputContextSelect_(target)) {
            inputContextSelection_.pending = source.id;
            return true;
        } else {
            logger().debug(
                "Input-context selection failed (%{public}s); selecting the source directly",
                viaContext.error().description());
        }
    }
    return system_.select(target) == platform::SelectStatus::ok;
}

}  // namespace tesvano
