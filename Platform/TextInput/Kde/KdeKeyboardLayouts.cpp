#include "Platform/TextInput/Kde/KdeKeyboardLayouts.h"

#if TESVANO_HAVE_SYSTEMD
#include <systemd/sd-bus.h>
#endif

#include <cstdint>

#include "Platform/TextInput/Xkb/XkbTextInputSources.h"

namespace tesvano::platform {

namespace {

[[maybe_unused]] constexpr const char* kService = "org.kde.keyboard";
[[maybe_unused]] constexpr const char* kPath = "/Layouts";
[[maybe_unused]] constexpr const char* kInterface = "org.kde.KeyboardLayouts";

}  // namespace

#if TESVANO_HAVE_SYSTEMD

struct KdeKeyboardLayouts::Impl {
    sd_bus* bus = nullptr;
    ~Impl() { sd_bus_flush_close_unref(bus); }

    // Calls a method and reads its single reply value of the given type.
    template <typename T>
    std::optional<T> call(const char* method, char replyType, const char* signature, auto... args) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        int r = sd_bus_call_method(bus, kService, kPath, kInterface, method, &error, &reply,
                                   signature, args...);
        sd_bus_error_free(&error);
        std::optional<T> out;
        T value{};
        if (r >= 0 && sd_bus_message_read_basic(reply, replyType, &value) > 0) {
            out = value;
        }
        sd_bus_message_unref(reply);
        return out;
    }
};

std::unique_ptr<KdeKeyboardLayouts> KdeKeyboardLayouts::connect(std::chrono::milliseconds timeout) {
    auto impl = std::make_unique<Impl>();
    if (sd_bus_open_user(&impl->bus) < 0) {
        return nullptr;
    }
    sd_bus_set_method_call_timeout(impl->bus, static_cast<std::uint64_t>(timeout.count()) * 1000U);
    std::unique_ptr<KdeKeyboardLayouts> layouts(new KdeKeyboardLayouts(std::move(impl)));
    if (!layouts->layout()) {
        return nullptr;  // no daemon, or one that does not answer
    }
    return layouts;
}

std::optional<unsigned> KdeKeyboardLayouts::layout() {
    return impl_->call<std::uint32_t>("getLayout", 'u', "");
}

bool KdeKeyboardLayouts::setLayout(unsigned index) {
    const auto done = impl_->call<int>("setLayout", 'b', "u", static_cast<std::uint32_t>(index));
    return done.value_or(0) != 0;
}

#else

struct KdeKeyboardLayouts::Impl {};

std::unique_ptr<KdeKeyboardLayouts> KdeKeyboardLayouts::connect(std::chrono::milliseconds) {
    return nullptr;
}

std::optional<unsigned> KdeKeyboardLayouts::layout() {
    return std::nullopt;
}

bool KdeKeyboardLayouts::setLayout(unsigned) {
    return false;
}

#endif

KdeKeyboardLayouts::KdeKeyboardLayouts(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

KdeKeyboardLayouts::~KdeKeyboardLayouts() = default;

bool selectThroughKdeKeyboardWhenPresent(XkbTextInputSources& sources) {
    std::shared_ptr<KdeKeyboardLayouts> kde = KdeKeyboardLayouts::connect();
    if (!kde) {
        return false;
    }
    sources.setGroupSelector([kde](unsigned group) { return kde->setLayout(group); });
    return true;
}

}  // namespace tesvano::platform
