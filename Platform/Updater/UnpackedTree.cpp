#include "Platform/Updater/UnpackedTree.h"

#include <utility>

namespace tesvano::platform {

namespace {

using Failure = std::unexpected<std::string>;

// As many links as the kernel follows in one lookup: a longer chain fails there all the same.
constexpr int maxLinksFollowed = 40;
// Steps taken between two looks at the cancel flag.
constexpr unsigned stepsBetweenLooks = 4096;

}  // namespace

std::string shownName(std::string_view name) {
    std::string visible;
    for (const char c : name.size() <= 160 ? name : name.substr(0, 80)) {
        visible += c == '\0' ? std::string_view("\\0") : std::string_view(&c, 1);
    }
    if (name.size() > 160) {
        visible += "…" + shownName(name.substr(name.size() - 60));
    }
    return visible;
}

UnpackedTree::UnpackedTree() : entries_(1) {}

int UnpackedTree::child(int folder, std::string_view name) const {
    const auto& children = entries_[static_cast<std::size_t>(folder)].children;
    const auto found = children.find(name);
    return found == children.end() ? -1 : found->second;
}

int UnpackedTree::add(int folder, const std::string& name, Kind kind, std::string target) {
    if (const int known = child(folder, name); known >= 0) {
        return known;
    }
    const int node = static_cast<int>(entries_.size());
    entries_.push_back({folder, kind, name, std::move(target), {}});
    entries_[static_cast<std::size_t>(folder)].children.emplace(name, node);
    return node;
}

std::string UnpackedTree::shownPath(int node, int version) const {
    std::string path;
    for (; node != version && node > top; node = entries_[static_cast<std::size_t>(node)].parent) {
        const std::string& name = entries_[static_cast<std::size_t>(node)].name;
        path = path.empty() ? name : name + "/" + path;
    }
    return shownName(path);
}

// Follows links through the tree as the kernel would (a ".." leads to the folder a step is in,
// not back along the way it came), each link once.
class UnpackedTree::Walk {
public:
    Walk(const UnpackedTree& tree, int version, const std::atomic<bool>* cancelled)
        : tree_(tree), version_(version), cancelled_(cancelled), followed_(tree.entries_.size()) {}

    std::expected<void, std::string> all() {
        for (std::size_t node = 0; node < tree_.entries_.size(); ++node) {
            if (tree_.entries_[node].kind != Kind::link) {
                continue;
            }
            origin_ = static_cast<int>(node);
            if (auto led = follow(origin_, 0); !led) {
                return Failure(led.error());
            }
        }
        return {};
    }

private:
    const Entry& entry(int node) const { return tree_.entries_[static_cast<std::size_t>(node)]; }

    Failure refused(int link, const char* how) const {
        return Failure(std::string("the archive holds a link ") + how + ": " +
                       tree_.shownPath(link, version_) + " -> " + shownName(entry(link).target));
    }

    // Where `link` leads; `depth` links are being followed around it.
    std::expected<int, std::string> follow(int link, int depth) {
        Followed& followed = followed_[static_cast<std::size_t>(link)];
        if (followed.state == Followed::State::done) {
            return followed.node;
        }
        if (followed.state == Followed::State::following) {
            return refused(link, "that leads round in a circle");
        }
        if (depth >= maxLinksFollowed) {
            return refused(origin_, "that leads through more than 40 links in a row");
        }
        followed.state = Followed::State::following;
        const std::string_view target = entry(link).target;
        int at = entry(link).parent;
        int links = 1;
        for (std::size_t from = 0; from <= target.size();) {
            if (++steps_ % stepsBetweenLooks == 0 && cancelled_ != nullptr && *cancelled_) {
                return Failure(std::string("cancelled"));
            }
            const std::size_t slash = std::min(target.find('/', from), target.size());
            const std::string_view step = target.substr(from, slash - from);
            from = slash + 1;
            // Any step after a file, even an empty one, is no folder.
            if (entry(at).kind != Kind::folder) {
                return refused(link, "to nothing (what it names is not in the archive)");
            }
            if (step.empty() || step == ".") {
                continue;
            }
            if (step == "..") {
                // Even a way that comes back in: the folder's name changes when it is moved.
                if (at == version_) {
                    return refused(link, "that leads out of it");
                }
                at = entry(at).parent;
                continue;
            }
            const int next = tree_.child(at, step);
            if (next < 0) {
                return refused(link, "to nothing (what it names is not in the archive)");
            }
            if (entry(next).kind != Kind::link) {
                at = next;
                continue;
            }
            auto led = follow(next, depth + 1);
            if (!led) {
                return led;
            }
            links += followed_[static_cast<std::size_t>(next)].links;
            if (links > maxLinksFollowed) {
                return refused(link, "that leads through more than 40 links in a row");
            }
            at = *led;
        }
        followed = {Followed::State::done, at, links};
        return at;
    }

    const UnpackedTree& tree_;
    int version_;
    const std::atomic<bool>* cancelled_;
    std::vector<Followed> followed_;
    int origin_ = -1;  // the link followed first, around all the others
    unsigned steps_ = 0;
};

std::expected<void, std::string> UnpackedTree::linksStayInside(
    const std::atomic<bool>* cancelled) const {
    // The version folder, as the installation takes it: the one top entry when that is a
    // folder, else the destination.
    const auto& topChildren = entries_.front().children;
    const int version =
        topChildren.size() == 1 &&
                entries_[static_cast<std::size_t>(topChildren.begin()->second)].kind == Kind::folder
            ? topChildren.begin()->second
            : top;
    return Walk(*this, version, cancelled).all();
}

}  // namespace tesvano::platform
