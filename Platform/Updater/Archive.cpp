#include "Platform/Updater/Archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace tesvano::platform {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t blockSize = 512;
// Long names and extended headers are read whole; nothing of ours comes near this.
constexpr std::uint64_t maxHeaderData = 64 * 1024;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

private:
    int fd_;
};

using Failure = std::unexpected<std::string>;

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// The decompressed stream of the archive.
class Input {
public:
    explicit Input(int fd) {
        const int copy = ::dup(fd);
        if (copy >= 0 && ::lseek(copy, 0, SEEK_SET) == 0) {
            file_ = ::gzdopen(copy, "rb");
        }
        if (file_ == nullptr && copy >= 0) {
            ::close(copy);
        }
    }
    ~Input() {
        if (file_ != nullptr) {
            ::gzclose(file_);
        }
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;
    bool open() const { return file_ != nullptr; }

    // Exactly `size` bytes, or an error.
    std::expected<void, std::string> read(char* into, std::size_t size) {
        while (size > 0) {
            const int n =
                ::gzread(file_, into, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 20)));
            if (n <= 0) {
                int code = 0;
                const char* message = ::gzerror(file_, &code);
                return Failure(n == 0 ? std::string("the archive ends too early")
                                      : std::string("the archive is damaged: ") + message);
            }
            into += n;
            size -= static_cast<std::size_t>(n);
        }
        return {};
    }

private:
    gzFile file_ = nullptr;
};

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

// "path" and "linkpath" of a pax extended header ("LENGTH KEY=VALUE\n" records).
void readPax(const std::string& data, std::string& path, std::string& linkPath) {
    std::size_t at = 0;
    while (at < data.size()) {
        const auto space = data.find(' ', at);
        if (space == std::string::npos) {
            return;
        }
        const auto length = std::strtoull(data.c_str() + at, nullptr, 10);
        // The length counts itself, the space and the closing newline; a huge one must not wrap.
        if (length < space - at + 2 || length > data.size() - at || data[at + length - 1] != '\n') {
            return;
        }
        const std::string record = data.substr(space + 1, at + length - space - 2);
        const auto equals = record.find('=');
        if (equals != std::string::npos) {
            const std::string key = record.substr(0, equals);
            if (key == "path") {
                path = record.substr(equals + 1);
            } else if (key == "linkpath") {
                linkPath = record.substr(equals + 1);
            }
        }
        at += length;
    }
}

// The steps of a member's name; refused when it is absolute or steps up.
std::expected<std::vector<std::string>, std::string> steps(const std::string& name) {
    if (name.starts_with('/')) {
        return Failure("the archive holds an absolute name: " + name);
    }
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at <= name.size()) {
        const auto slash = std::min(name.find('/', at), name.size());
        const std::string part = name.substr(at, slash - at);
        if (part == "..") {
            return Failure("the archive holds a name that leads out of it: " + name);
        }
        if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = slash + 1;
    }
    return parts;
}

class Unpacking {
public:
    Unpacking(const fs::path& destination, const ArchiveLimits& limits,
              const std::atomic<bool>* cancelled)
        : limits_(limits),
          cancelled_(cancelled),
          root_(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {}

    std::expected<void, std::string> run(Input& input) {
        if (root_.get() < 0) {
            return Failure(systemError("cannot open the folder to unpack into"));
        }
        std::string longName, longLink, paxPath, paxLink;
        std::array<char, blockSize> header{};
        for (;;) {
            if (auto read = input.read(header.data(), blockSize); !read) {
                return read;
            }
            if (std::all_of(header.begin(), header.end(), [](char c) { return c == '\0'; })) {
                return {};  // the end
            }
            if (!checksumMatches(header.data())) {
                return Failure(std::string("the archive is damaged (a header's checksum)"));
            }
            const auto size = octal(&header[124], 12);
            if (!size) {
                return Failure(std::string("the archive holds a member of unreadable size"));
            }
            const char type = header[156];
            if (type == 'L' || type == 'K' || type == 'x' || type == 'g') {
                if (*size > maxHeaderData) {
                    return Failure(std::string("the archive holds an oversized header"));
                }
                std::string data(*size, '\0');
                if (auto read = readPadded(input, data.data(), *size); !read) {
                    return read;
                }
                data.resize(strnlen(data.c_str(), data.size()));
                if (type == 'L') {
                    longName = data;
                } else if (type == 'K') {
                    longLink = data;
                } else if (type == 'x') {
                    readPax(data, paxPath, paxLink);
                }
                continue;
            }
            std::string name = text(&header[0], 100);
            // POSIX "ustar\0" only: GNU headers ("ustar  ") keep times where the prefix goes.
            if (std::memcmp(&header[257], "ustar", 6) == 0 && header[345] != '\0') {
                name = text(&header[345], 155) + "/" + name;
            }
            name = !paxPath.empty() ? paxPath : !longName.empty() ? longName : name;
            const std::string link = !paxLink.empty()    ? paxLink
                                     : !longLink.empty() ? longLink
                                                         : text(&header[157], 100);
            longName.clear();
            longLink.clear();
            paxPath.clear();
            paxLink.clear();
            if (auto taken = take(input, type, name, link, *size,
                                  (octal(&header[100], 8).value_or(0644) & 0111) != 0);
                !taken) {
                return taken;
            }
        }
    }

private:
    static bool checksumMatches(const char* header) {
        const auto stored = octal(header + 148, 8);
        std::uint64_t sum = 0;
        for (std::size_t i = 0; i < blockSize; ++i) {
            sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(header[i]);
        }
        return stored && *stored == sum;
    }

    static std::expected<void, std::string> readPadded(Input& input, char* into,
                                                       std::uint64_t size) {
        if (auto read = input.read(into, size); !read) {
            return read;
        }
        return skip(input, (blockSize - size % blockSize) % blockSize);
    }
    static std::expected<void, std::string> skip(Input& input, std::uint64_t size) {
        std::array<char, blockSize> ignored{};
        for (; size > 0; size -= std::min<std::uint64_t>(size, blockSize)) {
            if (auto read = input.read(ignored.data(), std::min<std::uint64_t>(size, blockSize));
                !read) {
                return read;
            }
        }
        return {};
    }

    std::expected<void, std::string> take(Input& input, char type, const std::string& name,
                                          const std::string& link, std::uint64_t size,
                                          bool executable) {
        auto parts = steps(name);
        if (!parts) {
            return Failure(parts.error());
        }
        if (parts->empty()) {
            return skip(input, (size + blockSize - 1) / blockSize * blockSize);
        }
        if (++entries_ > limits_.maxEntries) {
            return Failure("the archive holds more than " + std::to_string(limits_.maxEntries) +
                           " files");
        }
        const std::string leaf = parts->back();
        parts->pop_back();
        auto folder = openFolder(*parts);
        if (!folder) {
            return Failure(folder.error());
        }
        switch (type) {
            case '0':
            case '\0':
            case '7':
                return writeFile(input, folder->get(), leaf, name, size, executable);
            case '5':
                if (::mkdirat(folder->get(), leaf.c_str(), 0755) != 0 && !isFolder(*folder, leaf)) {
                    return Failure(errno == EEXIST
                                       ? "the archive holds a folder where it put a link: " + name
                                       : systemError("cannot make the folder " + name));
                }
                return skip(input, (size + blockSize - 1) / blockSize * blockSize);
            case '2':
                if (link.empty() || link.starts_with('/')) {
                    return Failure("the archive holds a link to an absolute place: " + name +
                                   " -> " + link);
                }
                if (::symlinkat(link.c_str(), folder->get(), leaf.c_str()) != 0) {
                    return Failure(systemError("cannot make the link " + name));
                }
                return skip(input, (size + blockSize - 1) / blockSize * blockSize);
            default:
                return Failure("the archive holds a member of a kind not taken (" +
                               std::string(1, type) + "): " + name);
        }
    }

    static bool isFolder(const Fd& folder, const std::string& leaf) {
        struct stat info {};
        return ::fstatat(folder.get(), leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISDIR(info.st_mode);
    }

    // The folder of the given steps below the root, made where missing; never through a link.
    std::expected<Fd, std::string> openFolder(const std::vector<std::string>& parts) {
        Fd folder(::dup(root_.get()));
        for (const auto& part : parts) {
            if (::mkdirat(folder.get(), part.c_str(), 0755) != 0 && errno != EEXIST) {
                return Failure(systemError("cannot make the folder " + part));
            }
            Fd next(::openat(folder.get(), part.c_str(),
                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (next.get() < 0) {
                return Failure(errno == ELOOP || errno == ENOTDIR
                                   ? "the archive writes through a link: " + part
                                   : systemError("cannot unpack into " + part));
            }
            folder = std::move(next);
        }
        return folder;
    }

    std::expected<void, std::string> writeFile(Input& input, int folder, const std::string& leaf,
                                               const std::string& name, std::uint64_t size,
                                               bool executable) {
        written_ += size;
        if (written_ > limits_.maxBytes) {
            return Failure("the archive unpacks to more than " + std::to_string(limits_.maxBytes) +
                           " bytes");
        }
        Fd out(::openat(folder, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        executable ? 0755 : 0644));
        if (out.get() < 0) {
            return Failure(systemError("cannot write " + name));
        }
        std::vector<char> buffer(std::min<std::uint64_t>(size, 256 * 1024));
        for (std::uint64_t left = size; left > 0;) {
            const auto chunk =
                static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
            if (cancelled_ != nullptr && *cancelled_) {
                return Failure(std::string("cancelled"));
            }
            struct statvfs space {};
            if (::fstatvfs(out.get(), &space) == 0 &&
                static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize <
                    limits_.keepFree + chunk) {
                return Failure(std::string("not enough free space to unpack the update"));
            }
            if (auto read = input.read(buffer.data(), chunk); !read) {
                return read;
            }
            for (std::size_t done = 0; done < chunk;) {
                const ssize_t n = ::write(out.get(), buffer.data() + done, chunk - done);
                if (n < 0 && errno != EINTR) {
                    return Failure(systemError("cannot write " + name));
                }
                done += n > 0 ? static_cast<std::size_t>(n) : 0;
            }
            left -= chunk;
        }
        return skip(input, (blockSize - size % blockSize) % blockSize);
    }

    ArchiveLimits limits_;
    const std::atomic<bool>* cancelled_;
    Fd root_;
    std::uint64_t entries_ = 0;
    std::uint64_t written_ = 0;
};

// Every link below `folder` leads to something inside it, by the links as they are on disk.
std::expected<void, std::string> linksStayInside(const fs::path& folder) {
    std::error_code ec;
    const fs::path inside = fs::canonical(folder, ec);
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink(ec)) {
            continue;
        }
        auto within = [&](const fs::path& path) {
            return std::mismatch(inside.begin(), inside.end(), path.begin(), path.end()).first ==
                   inside.end();
        };
        std::error_code unresolved;
        bool stays = within(fs::canonical(it->path(), unresolved)) && !unresolved;
        // Each step too: one through the folder above could lead back in by this folder's name,
        // which changes when the folder is moved to its place.
        fs::path at = it->path().parent_path();
        for (const auto& step : fs::read_symlink(it->path(), unresolved)) {
            at = fs::canonical(at / step, unresolved);
            stays = stays && !unresolved && within(at);
        }
        if (!stays) {
            return Failure("the archive holds a link that leads out of it: " +
                           it->path().lexically_relative(folder).string() + " -> " +
                           fs::read_symlink(it->path(), unresolved).string());
        }
    }
    if (ec) {
        return Failure("cannot read what was unpacked: " + ec.message());
    }
    return {};
}

void empty(const fs::path& folder) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        fs::remove_all(entry.path(), ec);
    }
}

}  // namespace

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
    Input input(fd);
    if (!input.open()) {
        empty(destination);
        return Failure(std::string("cannot read the archive"));
    }
    Unpacking unpacking(destination, limits, cancelled);
    auto result = unpacking.run(input);
    if (result) {
        result = linksStayInside(unpackedVersionFolder(destination));
    }
    if (!result) {
        empty(destination);
    }
    return result;
}

std::unique_ptr<ArchiveUnpacker> ArchiveUnpacker::start(Runtime& runtime, int archiveFd,
                                                        const fs::path& destination, Done done,
                                                        ArchiveLimits limits) {
    std::unique_ptr<ArchiveUnpacker> unpacker(new ArchiveUnpacker(
        runtime,
        [archiveFd, destination, limits](const std::atomic<bool>* cancelled) {
            return unpackArchive(archiveFd, destination, limits, cancelled);
        },
        std::move(done)));
    if (!unpacker->task_.started()) {
        return nullptr;
    }
    return unpacker;
}

}  // namespace tesvano::platform
