#pragma once

#include <atomic>
#include <cstdint>
#include <expected>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tesvano::platform {

// A name as an error shows it: a hostile one can be tens of kilobytes long, or hold NUL bytes.
std::string shownName(std::string_view name);

// What the archive reader made below its destination, as it made it: folders, files and links
// with the very bytes of their targets. Where every link leads is worked out from this, not by
// resolving paths on disk: each link is followed once, so the check is linear in the archive.
class UnpackedTree {
public:
    enum class Kind { folder, file, link };
    static constexpr int top = 0;  // the destination itself

    UnpackedTree();

    // The entry `name` in the folder `folder`, or -1.
    int child(int folder, std::string_view name) const;
    // Records `name` in `folder` (once; a second call answers the first entry).
    int add(int folder, const std::string& name, Kind kind, std::string target = {});

    // Every link leads, step by step, to something inside the version folder (the one top
    // folder, or the destination), never out of it and back in. Reads `cancelled` as it goes.
    std::expected<void, std::string> linksStayInside(const std::atomic<bool>* cancelled) const;

private:
    struct Entry {
        int parent = -1;
        Kind kind = Kind::folder;
        std::string name;
        std::string target;
        std::map<std::string, int, std::less<>> children;
    };
    // How following a link ended: where it leads, through how many links in all.
    struct Followed {
        enum class State { unknown, following, done } state = State::unknown;
        int node = -1;
        int links = 0;
    };
    class Walk;

    std::string shownPath(int node, int version) const;

    std::vector<Entry> entries_;
};

}  // namespace tesvano::platform
