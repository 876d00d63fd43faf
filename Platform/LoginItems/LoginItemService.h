#pragma once

#include <sys/types.h>

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

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
    // `executable` is the path written into the entry. `installationRoot`, when the program
    // belongs to a per-user installation (<root>/<version>/bin/tesvano), is that root: an entry
    // naming one of its version folders is made to name `executable` (followInstallation).
    XdgAutostartLoginItem(std::filesystem::path autostartDir, std::string desktopID,
                          std::filesystem::path executable,
                          std::filesystem::path installationRoot = {});

    // $XDG_CONFIG_HOME/autostart (default ~/.config/autostart) and the id "tesvano".
    static XdgAutostartLoginItem standard(std::filesystem::path executable,
                                          std::filesystem::path installationRoot = {});

    int status() const override;
    std::expected<void, std::string> registerItem() override;
    std::expected<void, std::string> unregisterItem() override;

    std::filesystem::path entryPath() const { return dir_ / (id_ + ".desktop"); }

    // A version folder goes once an update has been confirmed, and with it whatever an entry
    // naming it would start. When the entry names a program in a version folder of the
    // installation other than `executable`, its Exec (and TryExec) are made to name
    // `executable`; the rest of the entry stays as it is. Entries naming anything else, and
    // entries that are links, are left alone. True when the entry was rewritten.
    std::expected<bool, std::string> followInstallation() const;
    // The entry's text as followInstallation would write it; none when it stays as it is.
    std::optional<std::string> followingEntry(std::string_view text) const;

private:
    bool namesVersionFolder(const std::filesystem::path& program) const;
    std::expected<void, std::string> writeEntry(const std::string& text, mode_t mode) const;

    std::filesystem::path dir_;
    std::string id_;
    std::filesystem::path executable_;
    std::filesystem::path installationRoot_;
};

}  // namespace tesvano::platform
