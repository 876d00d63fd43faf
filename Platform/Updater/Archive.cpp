#include "Platform/Updater/Archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "Platform/Updater/GzipStream.h"
#include "Platform/Updater/TreeRemoval.h"
#include "Platform/Updater/UniqueFd.h"
#include "Platform/Updater/UnpackedTree.h"

namespace tesvano::platform {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t blockSize = 512;
// Long names and extended headers are read whole; a name of the deepest folders allowed, each
// of the longest name a file system takes, fits.
constexpr std::uint64_t maxHeaderData = 64 * 1024;
// Content is read, written and skipped in pieces of this size, the cancel flag read between.
constexpr std::size_t pieceSize = 256 * 1024;

using Fd = UniqueFd;

using Failure = std::unexpected<std::string>;
using Outcome = std::expected<void, std::string>;
using Input = GzipStream;

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string shown(const std::string& name) {
    return shownName(name);
}

std::optional<std::uint64_t> octal(const char* field, std::size_t size) {
    std::uint64_t value = 0;
    std::size_t i = 0;
    while (i < size && (field[i] == ' ' || field[i] == '\0')) {
        ++i;
    }
    for (; i < size && field[i] >= '0' && field[i] <= '7'; ++i) {
        if (value >> 60) {
            return std::nullopt;
        }
        value = value * 8 + static_cast<std::uint64_t>(field[i] - '0');
    }
    for (; i < size; ++i) {
        if (field[i] != ' ' && field[i] != '\0') {
            return std::nullopt;  // base-256 sizes and garbage alike
        }
    }
    return value;
}

std::string text(const char* field, std::size_t size) {
    return std::string(field, strnlen(field, size));
}

std::optional<std::uint64_t> decimal(const std::string& value) {
    std::uint64_t number = 0;
    const auto* end = value.data() + value.size();
    const auto [at, error] = std::from_chars(value.data(), end, number);
    if (value.empty() || error != std::errc() || at != end) {
        return std::nullopt;
    }
    return number;
}

// What a pax extended header says of the next member.
struct Pax {
    std::optional<std::string> path;
    std::optional<std::string> linkPath;
    std::optional<std::uint64_t> size;
    bool sparse = false;
};

// Its "LENGTH KEY=VALUE\n" records.
Outcome readPax(const std::string& data, Pax& pax) {
    const Failure damaged(std::string("the archive holds a damaged extended header"));
    std::size_t at = 0;
    while (at < data.size()) {
        const auto space = data.find(' ', at);
        if (space == std::string::npos) {
            return damaged;
        }
        const auto length = decimal(data.substr(at, space - at));
        // The length counts itself, the space and the closing newline; a huge one must not wrap.
        if (!length || *length < space - at + 2 || *length > data.size() - at ||
            data[at + *length - 1] != '\n') {
            return damaged;
        }
        const std::string record = data.substr(space + 1, at + *length - space - 2);
        const auto equals = record.find('=');
        if (equals == std::string::npos) {
            return damaged;
        }
        const std::string key = record.substr(0, equals);
        std::string value = record.substr(equals + 1);
        if (key == "path") {
            pax.path = std::move(value);
        } else if (key == "linkpath") {
            pax.linkPath = std::move(value);
        } else if (key == "size") {
            pax.size = decimal(value);
            if (!pax.size) {
                return Failure("the archive holds a member of unreadable size: " + shown(value));
            }
        } else if (key.starts_with("GNU.sparse.")) {
            pax.sparse = true;
        }
        at += *length;
    }
    return {};
}

// The steps of a member's name; refused when it is absolute, steps up or goes too deep. A NUL
// byte (which a pax value may hold) is refused too: each step is handed to the system as a C
// string, so what is checked here must be all of what the system sees.
std::expected<std::vector<std::string>, std::string> steps(const std::string& name,
                                                           std::uint64_t maxDepth) {
    if (name.find('\0') != std::string::npos) {
        return Failure("the archive holds a name with a NUL byte in it: " + shown(name));
    }
    if (name.starts_with('/')) {
        return Failure("the archive holds an absolute name: " + shown(name));
    }
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at <= name.size()) {
        const auto slash = std::min(name.find('/', at), name.size());
        std::string part = name.substr(at, slash - at);
        if (part == "..") {
            return Failure("the archive holds a name that leads out of it: " + shown(name));
        }
        if (!part.empty() && part != ".") {
            if (parts.size() == maxDepth) {
                return Failure("the archive holds a name more than " + std::to_string(maxDepth) +
                               " folders deep: " + shown(name));
            }
            parts.push_back(std::move(part));
        }
        at = slash + 1;
    }
    return parts;
}

// The kinds of member the reader does not take, by what real tar programs write.
std::string kindNotTaken(char type) {
    switch (type) {
        case '1':
            return "a hard link";
        case '3':
        case '4':
            return "a device";
        case '6':
            return "a named pipe";
        case 'S':
            return "a sparse file";
        case 'D':
            return "a folder listing";
        case 'M':
        case 'V':
            return "a part of a multi-volume archive";
        default:
            return std::string("a member of an unknown kind (type ") +
                   (type >= 0x21 && type < 0x7f
                        ? std::string(1, type)
                        : "byte " + std::to_string(static_cast<unsigned char>(type))) +
                   ")";
    }
}

class Unpacking {
public:
    Unpacking(const fs::path& destination, const ArchiveLimits& limits,
              const std::atomic<bool>* cancelled)
        : limits_(limits),
          cancelled_(cancelled),
          root_(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {}

    Outcome run(Input& input) {
        if (root_.get() < 0) {
            return Failure(systemError("cannot open the folder to unpack into"));
        }
        std::optional<std::string> longName, longLink;
        Pax pax;
        std::array<char, blockSize> header{};
        for (;;) {
            if (isCancelled()) {
                return Failure(std::string("cancelled"));
            }
            if (auto read = input.read(header.data(), blockSize); !read) {
                return read;
            }
            if (std::all_of(header.begin(), header.end(), [](char c) { return c == '\0'; })) {
                return input.finish();
            }
            if (!checksumMatches(header.data())) {
                return Failure(std::string("the archive is damaged (a header's checksum)"));
            }
            const char type = header[156];
            const bool extension = type == 'L' || type == 'K' || type == 'x' || type == 'g';
            // A pax size stands for sizes the member's own field cannot hold.
            const auto size = pax.size && !extension ? pax.size : octal(&header[124], 12);
            if (!size) {
                return Failure(std::string("the archive holds a member of unreadable size"));
            }
            if (extension) {
                if (*size > maxHeaderData) {
                    return Failure(std::string("the archive holds an oversized header"));
                }
                std::string data(*size, '\0');
                if (auto read = readPadded(input, data.data(), *size); !read) {
                    return read;
                }
                if (type == 'L' || type == 'K') {
                    // Its closing NULs; one inside is refused with the name.
                    data.erase(data.find_last_not_of('\0') + 1);
                    (type == 'L' ? longName : longLink) = std::move(data);
                } else if (auto parsed = type == 'x' ? readPax(data, pax) : readGlobal(data);
                           !parsed) {
                    return parsed;
                }
                continue;
            }
            std::string name = text(&header[0], 100);
            // POSIX "ustar\0" only: GNU headers ("ustar  ") keep times where the prefix goes.
            if (std::memcmp(&header[257], "ustar", 6) == 0 && header[345] != '\0') {
                name = text(&header[345], 155) + "/" + name;
            }
            name = pax.path ? *pax.path : longName ? *longName : name;
            const std::string link = pax.linkPath ? *pax.linkPath
                                     : longLink   ? *longLink
                                                  : text(&header[157], 100);
            const bool sparse = pax.sparse || type == 'S';
            longName.reset();
            longLink.reset();
            pax = Pax();
            if (sparse) {
                // Its content is a map of holes that only a reader of that format puts back.
                return Failure("the archive holds a sparse file, which cannot be unpacked: " +
                               shown(name));
            }
            if (auto taken = take(input, type, name, link, *size,
                                  (octal(&header[100], 8).value_or(0644) & 0111) != 0);
                !taken) {
                return taken;
            }
        }
    }

    // Every link made leads to something inside the version folder.
    Outcome checkLinks() const { return tree_.linksStayInside(cancelled_); }

private:
    bool isCancelled() const { return cancelled_ != nullptr && *cancelled_; }

    static bool checksumMatches(const char* header) {
        const auto stored = octal(header + 148, 8);
        std::uint64_t sum = 0;
        for (std::size_t i = 0; i < blockSize; ++i) {
            sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(header[i]);
        }
        return stored && *stored == sum;
    }

    // Global records name no member; only a sparse map there is something not understood.
    static Outcome readGlobal(const std::string& data) {
        Pax global;
        if (auto parsed = readPax(data, global); !parsed) {
            return parsed;
        }
        if (global.sparse) {
            return Failure(std::string("the archive holds sparse files, which cannot be unpacked"));
        }
        return {};
    }

    Outcome readPadded(Input& input, char* into, std::uint64_t size) {
        if (auto read = input.read(into, size); !read) {
            return read;
        }
        return skip(input, (blockSize - size % blockSize) % blockSize);
    }

    // Content not written still passes through the decompression, a piece at a time.
    Outcome skip(Input& input, std::uint64_t size) {
        while (size > 0) {
            if (isCancelled()) {
                return Failure(std::string("cancelled"));
            }
            const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, pieceSize));
            buffer_.resize(std::max(buffer_.size(), piece));
            if (auto read = input.read(buffer_.data(), piece); !read) {
                return read;
            }
            size -= piece;
        }
        return {};
    }

    static std::uint64_t padded(std::uint64_t size) {
        return size + (blockSize - size % blockSize) % blockSize;
    }

    Outcome take(Input& input, char type, const std::string& name, const std::string& link,
                 std::uint64_t size, bool executable) {
        const bool file = type == '0' || type == '\0' || type == '7';
        if (!file && type != '5' && type != '2') {
            return Failure("the archive holds " + kindNotTaken(type) +
                           ", which is not unpacked: " + shown(name));
        }
        // Declared content counts whether it is written or skipped: a folder that says it
        // holds gigabytes is refused here rather than decompressed.
        if (size > limits_.maxBytes - content_) {
            return Failure("the archive unpacks to more than " + byteAmount(limits_.maxBytes));
        }
        content_ += size;
        auto parts = steps(name, limits_.maxDepth);
        if (!parts) {
            return Failure(parts.error());
        }
        if (parts->empty()) {
            if (type != '5') {
                return Failure("the archive holds a member without a name: " + shown(name));
            }
            return skip(input, padded(size));
        }
        const std::string leaf = parts->back();
        parts->pop_back();
        auto folder = openFolder(*parts);
        if (!folder) {
            return Failure(folder.error());
        }
        if (file) {
            return writeFile(input, folder->get(), leaf, name, size, executable);
        }
        // A folder named again counts as well, so that the work of opening the folders of
        // names is bounded by the count of entries.
        if (auto admitted = admit(folder->get()); !admitted) {
            return admitted;
        }
        if (type == '5') {
            if (!isFolder(*folder, leaf) && ::mkdirat(folder->get(), leaf.c_str(), 0755) != 0) {
                return Failure(errno == EEXIST
                                   ? "the archive holds a folder where it put a link or a file: " +
                                         shown(name)
                                   : systemError("cannot make the folder " + shown(name)));
            }
            tree_.add(cachedNode_, leaf, UnpackedTree::Kind::folder);
            return skip(input, padded(size));
        }
        if (auto fit = linkFits(name, link); !fit) {
            return fit;
        }
        if (::symlinkat(link.c_str(), folder->get(), leaf.c_str()) != 0) {
            return Failure(systemError("cannot make the link " + shown(name)));
        }
        tree_.add(cachedNode_, leaf, UnpackedTree::Kind::link, link);
        return skip(input, padded(size));
    }

    // A link's target is made exactly as checked: no NUL byte (where a C string would end it),
    // and within the bounds that keep the link check short.
    Outcome linkFits(const std::string& name, const std::string& link) {
        if (link.empty() || link.starts_with('/')) {
            return Failure("the archive holds a link to an absolute place: " + shown(name) +
                           " -> " + shown(link));
        }
        if (link.find('\0') != std::string::npos) {
            return Failure("the archive holds a link with a NUL byte in what it names: " +
                           shown(name) + " -> " + shown(link));
        }
        if (link.size() > limits_.maxLinkLength) {
            return Failure("the archive holds a link naming more than " +
                           std::to_string(limits_.maxLinkLength) + " bytes: " + shown(name));
        }
        if (++links_ > limits_.maxLinks) {
            return Failure("the archive holds more than " + std::to_string(limits_.maxLinks) +
                           " links");
        }
        return {};
    }

    static bool isFolder(const Fd& folder, const std::string& leaf) {
        struct stat info {};
        return ::fstatat(folder.get(), leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISDIR(info.st_mode);
    }

    // One more file, folder or link, in `folder`: within the count, and with room for it.
    Outcome admit(int folder) {
        if (++entries_ > limits_.maxEntries) {
            return Failure("the archive holds more than " + std::to_string(limits_.maxEntries) +
                           " files, folders and links");
        }
        return room(folder, 0);
    }

    Outcome room(int at, std::uint64_t bytes) const {
        struct statvfs space {};
        if (::fstatvfs(at, &space) != 0) {
            return {};
        }
        if (static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize <
            limits_.keepFree + bytes) {
            return Failure("not enough free space on the disk to unpack the update (" +
                           byteAmount(limits_.keepFree) + " must stay free)");
        }
        // A file system that does not count its file entries says it has none.
        if (space.f_files > 0 && space.f_favail < limits_.keepFreeInodes) {
            return Failure(
                "not enough free file entries (inodes) on the disk to unpack the update");
        }
        return {};
    }

    // The folder of the given steps below the root, made where missing; never through a link.
    // The last one reached is kept, as members mostly come folder by folder.
    std::expected<Fd, std::string> openFolder(const std::vector<std::string>& parts) {
        std::size_t from = 0;
        Fd folder;
        if (cached_.get() >= 0 && cachedParts_.size() <= parts.size() &&
            std::equal(cachedParts_.begin(), cachedParts_.end(), parts.begin())) {
            from = cachedParts_.size();
            folder = Fd(::fcntl(cached_.get(), F_DUPFD_CLOEXEC, 0));
        } else {
            folder = Fd(::fcntl(root_.get(), F_DUPFD_CLOEXEC, 0));
            cachedNode_ = UnpackedTree::top;
        }
        if (folder.get() < 0) {
            return Failure(systemError("cannot unpack"));
        }
        for (std::size_t i = from; i < parts.size(); ++i) {
            const std::string& part = parts[i];
            Fd next(::openat(folder.get(), part.c_str(),
                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (next.get() < 0 && errno == ENOENT) {
                if (auto admitted = admit(folder.get()); !admitted) {
                    return Failure(admitted.error());
                }
                if (::mkdirat(folder.get(), part.c_str(), 0755) != 0 && errno != EEXIST) {
                    return Failure(systemError("cannot make the folder " + shown(part)));
                }
                next = Fd(::openat(folder.get(), part.c_str(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            }
            if (next.get() < 0) {
                return Failure(errno == ELOOP || errno == ENOTDIR
                                   ? "the archive writes through a link: " + shown(part)
                                   : systemError("cannot unpack into " + shown(part)));
            }
            folder = std::move(next);
            cachedNode_ = tree_.add(cachedNode_, part, UnpackedTree::Kind::folder);
        }
        cachedParts_ = parts;
        cached_ = Fd(::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0));
        return folder;
    }

    Outcome writeFile(Input& input, int folder, const std::string& leaf, const std::string& name,
                      std::uint64_t size, bool executable) {
        if (auto admitted = admit(folder); !admitted) {
            return admitted;
        }
        Fd out(::openat(folder, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        executable ? 0755 : 0644));
        if (out.get() < 0) {
            return Failure(systemError("cannot write " + shown(name)));
        }
        tree_.add(cachedNode_, leaf, UnpackedTree::Kind::file);
        for (std::uint64_t left = size; left > 0;) {
            const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, pieceSize));
            if (isCancelled()) {
                return Failure(std::string("cancelled"));
            }
            if (auto enough = room(out.get(), piece); !enough) {
                return enough;
            }
            buffer_.resize(std::max(buffer_.size(), piece));
            if (auto read = input.read(buffer_.data(), piece); !read) {
                return read;
            }
            for (std::size_t done = 0; done < piece;) {
                const ssize_t n = ::write(out.get(), buffer_.data() + done, piece - done);
                if (n < 0 && errno != EINTR) {
                    return Failure(systemError("cannot write " + shown(name)));
                }
                done += n > 0 ? static_cast<std::size_t>(n) : 0;
            }
            left -= piece;
        }
        return skip(input, (blockSize - size % blockSize) % blockSize);
    }

    ArchiveLimits limits_;
    const std::atomic<bool>* cancelled_;
    Fd root_;
    Fd cached_;
    std::vector<std::string> cachedParts_;
    UnpackedTree tree_;
    int cachedNode_ = UnpackedTree::top;  // the cached folder's entry in the tree
    std::vector<char> buffer_;
    std::uint64_t entries_ = 0;
    std::uint64_t links_ = 0;
    std::uint64_t content_ = 0;
};

void empty(const fs::path& folder) {
    static_cast<void>(emptyFolder(folder));
}

}  // namespace

std::string byteAmount(std::uint64_t bytes) {
    if (bytes >= (1ull << 30) && bytes % (1ull << 30) == 0) {
        return std::to_string(bytes >> 30) + " GiB";
    }
    if (bytes >= (1ull << 20) && bytes % (1ull << 20) == 0) {
        return std::to_string(bytes >> 20) + " MiB";
    }
    if (bytes >= (1ull << 10) && bytes % (1ull << 10) == 0) {
        return std::to_string(bytes >> 10) + " KiB";
    }
    return std::to_string(bytes) + " bytes";
}

fs::path unpackedVersionFolder(const fs::path& destination) {
    std::error_code ec;
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(destination, ec)) {
        entries.push_back(entry.path());
    }
    if (entries.size() == 1 && fs::is_directory(entries.front(), ec) &&
        !fs::is_symlink(entries.front(), ec)) {
        return entries.front();
    }
    return destination;
}

std::expected<void, std::string> unpackArchive(int fd, const fs::path& destination,
                                               const ArchiveLimits& limits,
                                               const std::atomic<bool>* cancelled) {
    const std::uint64_t headers = std::min(archiveHeaderAllowance, ~limits.maxBytes);
    Input input(fd, limits.maxBytes + headers, cancelled);
    auto result = input.open();
    if (result) {
        Unpacking unpacking(destination, limits, cancelled);
        result = unpacking.run(input);
        if (result) {
            result = unpacking.checkLinks();
        }
    }
    if (!result) {
        empty(destination);
    }
    return result;
}

// Who clears the destination of an unpacking abandoned while it runs: the worker, once it has
// stopped, or the owner when it was already over.
struct ArchiveUnpacker::Handover {
    std::mutex mutex;
    bool over = false;
    bool abandoned = false;
};

std::unique_ptr<ArchiveUnpacker> ArchiveUnpacker::start(Runtime& runtime, int archiveFd,
                                                        const fs::path& destination, Done done,
                                                        ArchiveLimits limits) {
    auto handover = std::make_shared<Handover>();
    std::unique_ptr<ArchiveUnpacker> unpacker(new ArchiveUnpacker(
        runtime,
        [fd = sharedDescriptor(archiveFd), destination, limits,
         handover](const std::atomic<bool>* cancelled) {
            auto result = unpackArchive(*fd, destination, limits, cancelled);
            bool clear = false;
            {
                const std::lock_guard lock(handover->mutex);
                handover->over = true;
                clear = handover->abandoned;
            }
            if (clear) {
                static_cast<void>(removeTree(destination));
            }
            return result;
        },
        std::move(done), handover));
    if (!unpacker->task_.started()) {
        return nullptr;
    }
    return unpacker;
}

ArchiveUnpacker::~ArchiveUnpacker() {
    abandon();
}

bool ArchiveUnpacker::abandon() {
    task_.cancel();
    const std::lock_guard lock(handover_->mutex);
    handover_->abandoned = true;
    return !handover_->over;
}

}  // namespace tesvano::platform
