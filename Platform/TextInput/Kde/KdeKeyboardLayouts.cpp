#include "Platform/TextInput/Kde/KdeKeyboardLayouts.h"

#include <cstdint>

#include "Platform/DBus/SessionBus.h"
#include "Platform/TextInput/Xkb/XkbTextInputSources.h"

namespace tesvano::platform {

namespace {

constexpr dbus::Object kLayouts{"org.kde.keyboard", "/Layouts", "org.kde.KeyboardLayouts"};

}  // namespace

struct KdeKeyboardLayouts::Impl {
    dbus::Connection bus;

    // Calls a method and reads its single reply value of the given type.
    template <typename T>
    std::optional<T> call(const dbus::Method& method, char replyType, auto... arguments) {
        auto reply = bus.call(kLayouts, method, arguments...);
        // Nothing listens on this connection: one the bus dropped is opened again for the call.
        if (!reply && !bus.isOpen() && bus.reopen() >= 0) {
            reply = bus.call(kLayouts, method, arguments...);
        }
        T value{};
        if (!reply || sd_bus_message_read_basic(reply->get(), replyType, &value) <= 0) {
            return std::nullopt;
        }
        return value;
    }
};

std::unique_ptr<KdeKeyboardLayouts> KdeKeyboardLayouts::connect() {
    auto bus = dbus::Connection::open();
    if (!bus) {
        return nullptr;
    }
    std::unique_ptr<KdeKeyboardLayouts> layouts(
        new KdeKeyboardLayouts(std::make_unique<Impl>(std::move(*bus))));
    if (!layouts->layout()) {
        return nullptr;  // no daemon, or one that does not answer
    }
    return layouts;
}

std::optional<unsigned> KdeKeyboardLayouts::layout() {
    return impl_->call<std::uint32_t>(dbus::Method{"getLayout"}, 'u');
}

bool KdeKeyboardLayouts::setLayout(unsigned index) {
    const auto done =
        impl_->call<int>(dbus::Method{"setLayout", "u"}, 'b', static_cast<std::uint32_t>(index));
    return done.value_or(0) != 0;
}

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
