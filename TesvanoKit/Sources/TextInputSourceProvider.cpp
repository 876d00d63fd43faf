#include "TesvanoKit/Sources/TextInputSourceProvider.h"

#include "Platform/Log/Log.h"
#include "TesvanoKit/Sources/InputSourceClassifier.h"

namespace tesvano {

namespace {

const platform::Logger& logger() {
    static const platform::Logger instance("TextInputSourceProvider");
    return instance;
}

bool isCJKV(const platform::TextInputSource& source) {
    return InputSourceClassifier::isCJKV(source.languages.value_or(std::vector<std::string>{}));
}

}  // namespace

TextInputSourceProvider::TextInputSourceProvider(platform::TextInputSources& system,
                                                 KeyFocusSelect keyFocusSelect)
    : keyboardCategory_(platform::keyboardInputSourceCategory),
      system_(system),
      keyFocusSelect_(std::move(keyFocusSelect)) {
    if (!keyFocusSelect_) {
        keyFocusSelect_ = [this](const platform::TextInputSource& source) {
            return KeyFocusInputSourceSelector::select(system_, source);
        };
    }
}

std::optional<InputSource> TextInputSourceProvider::convert(
    const platform::TextInputSource& source) const {
    if (!source.id) {
        return std::nullopt;
    }
    return InputSource{
        .id = InputSourceID(*source.id),
        .localizedName = source.localizedName.value_or(*source.id),
        .isSelectCapable = source.isSelectCapable.value_or(false),
        .isEnabled = source.isEnabled.value_or(false),
        .isCJKV = isCJKV(source),
    };
}

std::optional<InputSourceID> TextInputSourceProvider::currentSourceID() {
    const auto current = system_.currentKeyboardSource();
    if (!current || !current->id) {
        return std::nullopt;
    }
    std::optional<InputSourceID> id = InputSourceID(*current->id);
    directSelection_.confirm(id);
    return id;
}

std::vector<InputSource> TextInputSourceProvider::selectableSources() {
    std::vector<InputSource> out;
    for (const auto& source : system_.sources()) {
        if (source.category != keyboardCategory_) {
            continue;
        }
        auto converted = convert(source);
        if (converted && converted->isSelectCapable && converted->isEnabled) {
            out.push_back(std::move(*converted));
        }
    }
    return out;
}

std::optional<InputSource> TextInputSourceProvider::source(const InputSourceID& id) {
    const auto found = system_.sourceWithID(id.rawValue);
    if (!found) {
        return std::nullopt;
    }
    return convert(*found);
}

bool TextInputSourceProvider::canSelect(const InputSourceID& id) {
    return system_.canSelect(id.rawValue);
}

bool TextInputSourceProvider::select(const InputSourceID& id) {
    const auto found = system_.sourceWithID(id.rawValue);
    if (!found || !found->isSelectCapable.value_or(false) || !found->isEnabled.value_or(false)) {
        return false;
    }
    const bool cjkv = isCJKV(*found);

    if (cjkv) {
        if (directSelection_.pending == id) {
            // The key-focus route claimed success last time but the system never showed the
            // source as current: do not trust it twice in a row.
            directSelection_.pending.reset();
            logger().debug(
                "Key-focus selection of %{public}s was never confirmed; selecting the source "
                "directly",
                id.rawValue);
        } else if (const auto viaKeyFocus = keyFocusSelect_(*found)) {
            directSelection_.pending = id;
            return true;
        } else {
            logger().debug("Key-focus selection failed (%{public}s); selecting the source directly",
                           viaKeyFocus.error().description());
        }
    }

    if (system_.select(id.rawValue) != platform::SelectStatus::ok) {
        return false;
    }
    if (cjkv && currentSourceID() != id) {
        system_.nudgeKeyWindow();
    }
    return true;
}

}  // namespace tesvano
