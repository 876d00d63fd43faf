#pragma once

#include <expected>
#include <filesystem>
#include <string>

namespace tesvano::platform {

// Registration of the program as something started at login. Status numbers follow the
// usual service-management convention: 0 not registered, 1 enabled, 2 requires approval,
// 3 not found.
class LoginItemService {
public:
    enum Status : int { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

    virtual ~LoginItemService() = default;
    virtual int status() const = 0;
    virtual std::expected<void, std::string> registerItem() = 0;
    virtual std::expected<void, std::string> unregisterItem() = 0;
};

// An XDG autostart entry, $XDG_CONFIG_HOME/autostart/<id>.desktop. The desktop session
// starts whatever such an entry names at login unless it says Hidden=true.
class XdgAutostartLoginItem final : public LoginItemService {
public:
    XdgAutostartLoginItem(std::filesystem::path autostartDir, std::string desktopID,
                          std::filesystem::path executable);

    // $XDG_CONFIG_HOME/autostart (default ~/.config/autostart), the id "tesvano" and the
    // running executable.
    static XdgAutostartLoginItem standard();

    int status() const override;
    std::expected<void, std::string> registerItem() override;
    std::expected<void, std::string> unregisterItem() override;

    std::filesystem::path entryPath() const { return dir_ / (id_ + ".desktop"); }

private:
    std::filesystem::path dir_;
    std::string id_;
    std::filesystem::path executable_;
};

}  // namespace tesvano::platform
