#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace PermissionFlow {

// One form of the dragged application: a MIME type and its bytes.
struct DragItem {
    std::string mimeType;
    std::string data;
    friend bool operator==(const DragItem&, const DragItem&) = default;
};

// The forms in which a desktop entry is offered to a drop, in order: a URI list, the KDE
// URL list, the GNOME file manager's file list, the Mozilla URL with its title (UTF-16), and
// the path as plain text.
std::vector<DragItem> dragItems(const std::filesystem::path& desktopEntry,
                                const std::string& title);
// The bytes of one form; none for a type not offered.
std::optional<std::string> dragData(const std::filesystem::path& desktopEntry,
                                    const std::string& title, const std::string& mimeType);

// "file://" and the percent-encoded absolute path.
std::string fileURL(const std::filesystem::path& path);

// A drag starts once the pointer has moved more than 4 pixels from where it was pressed.
bool dragThresholdPassed(double pressX, double pressY, double x, double y);

// Standardised application entries from suggested paths: ".desktop" files (any case) only,
// each once, in order.
std::vector<std::filesystem::path> applicationEntries(
    const std::vector<std::filesystem::path>& suggested);
bool isApplicationEntry(const std::filesystem::path& path);

}  // namespace PermissionFlow
