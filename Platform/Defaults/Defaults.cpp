#include "Platform/Defaults/Defaults.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <nlohmann/json.hpp>

#include "Platform/Defaults/Base64.h"
#include "Platform/Defaults/JsonDepth.h"
#include "Platform/Log/Log.h"

namespace tesvano::platform {

namespace fs = std::filesystem;
// Objects are read into sorted maps: an ordered one finds a key by walking its members, which
// made a file of many keys cost the square of their number. Written files come out sorted
// either way, as the values are kept sorted.
using json = nlohmann::json;
using ValueMap = std::map<std::string, DefaultsValue, std::less<>>;

namespace {

const Logger& log() {
    static const Logger logger("Defaults");
    return logger;
}

json toJSON(const DefaultsValue& value) {
    switch (value.kind()) {
        case DefaultsValue::Kind::boolean:
            return *value.asBool();
        case DefaultsValue::Kind::integer:
            return *value.asInteger();
        case DefaultsValue::Kind::real: {
            const double d = *value.asDouble();
            // JSON has no NaN or infinity; keep them readable as tagged text.
            if (!std::isfinite(d)) {
                return json{{"real", std::isnan(d) ? "nan" : (d > 0 ? "inf" : "-inf")}};
            }
            return d;
        }
        case DefaultsValue::Kind::string:
            return *value.asString();
        case DefaultsValue::Kind::data:
            return json{{"data", base64Encode(*value.asData())}};
        case DefaultsValue::Kind::array: {
            json out = json::array();
            for (const auto& item : *value.asArray()) {
                out.push_back(toJSON(item));
            }
            return out;
        }
        case DefaultsValue::Kind::dictionary: {
            json inner = json::object();
            for (const auto& [k, v] : *value.asDictionary()) {
                inner[k] = toJSON(v);
            }
            return json{{"dictionary", std::move(inner)}};
        }
    }
    return nullptr;
}

std::optional<DefaultsValue> fromJSON(const json& j) {
    switch (j.type()) {
        case json::value_t::boolean:
            return DefaultsValue(j.get<bool>());
        case json::value_t::number_integer:
            return DefaultsValue(j.get<std::int64_t>());
        case json::value_t::number_unsigned: {
            const auto u = j.get<std::uint64_t>();
            if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return DefaultsValue(static_cast<std::int64_t>(u));
            }
            return DefaultsValue(static_cast<double>(u));
        }
        case json::value_t::number_float:
            return DefaultsValue(j.get<double>());
        case json::value_t::string:
            return DefaultsValue(j.get<std::string>());
        case json::value_t::array: {
            DefaultsValue::Array out;
            for (const auto& item : j) {
                auto v = fromJSON(item);
                if (!v) {
                    return std::nullopt;
                }
                out.push_back(std::move(*v));
            }
            return DefaultsValue(std::move(out));
        }
        case json::value_t::object: {
            if (j.size() != 1) {
                return std::nullopt;
            }
            const auto first = j.begin();
            const std::string& tag = first.key();
            const json& payload = first.value();
            if (tag == "data" && payload.is_string()) {
                auto bytes = base64Decode(payload.get<std::string>());
                if (!bytes) {
                    return std::nullopt;
                }
                return DefaultsValue(std::move(*bytes));
            }
            if (tag == "real" && payload.is_string()) {
                const auto s = payload.get<std::string>();
                if (s == "nan")
                    return DefaultsValue(std::numeric_limits<double>::quiet_NaN());
                if (s == "inf")
                    return DefaultsValue(std::numeric_limits<double>::infinity());
                if (s == "-inf")
                    return DefaultsValue(-std::numeric_limits<double>::infinity());
                return std::nullopt;
            }
            if (tag == "dictionary" && payload.is_object()) {
                DefaultsValue::Dictionary out;
                for (const auto& [k, v] : payload.items()) {
                    auto decoded = fromJSON(v);
                    if (!decoded) {
                        return std::nullopt;
                    }
                    out.emplace(k, std::move(*decoded));
                }
                return DefaultsValue(std::move(out));
            }
            return std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

std::string timestampSuffix() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
    return buf;
}

// Moves a damaged file out of the way under a name that says why; never replaces anything.
std::optional<fs::path> setAside(const fs::path& path, std::string_view why) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path target = path;
        target += ".";
        target += why;
        target += "-";
        target += timestampSuffix();
        if (attempt > 0) {
            target += "-";
            target += std::to_string(attempt);
        }
        std::error_code ec;
        if (fs::exists(target, ec)) {
            continue;
        }
        // link + unlink instead of rename so an existing file is never replaced.
        if (::link(path.c_str(), target.c_str()) == 0) {
            ::unlink(path.c_str());
            return target;
        }
        if (errno == EEXIST) {
            continue;
        }
        if (::rename(path.c_str(), target.c_str()) == 0) {
            return target;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Temporary files left by a writer that died before its rename.
void removeStaleTemporaries(const fs::path& path) {
    std::error_code ec;
    const auto prefix = path.filename().string() + ".tmp-";
    for (const auto& entry : fs::directory_iterator(path.parent_path(), ec)) {
        const auto name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0) {
            continue;
        }
        const int pid = std::atoi(name.c_str() + prefix.size());
        if (pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM)) {
            continue;  // its writer is still alive
        }
        fs::remove(entry.path(), ec);
    }
}

// Whether `inner` is `folder` or lies below it; both resolved.
bool isWithin(const fs::path& inner, const fs::path& folder) {
    return std::mismatch(folder.begin(), folder.end(), inner.begin(), inner.end()).first ==
           folder.end();
}

// Where a write goes. A link is followed while it stays in the settings folder (a file kept
// beside the settings under another name, say), so that the link stays a link. One that
// leads out of the folder is not followed: a write never replaces what lies elsewhere (a
// device, a pipe, another program's file). `refusal` says why the link itself must go.
struct WriteTarget {
    fs::path path;
    std::string refusal;
};

WriteTarget writeTarget(const fs::path& path) {
    std::error_code ec;
    fs::path folder = fs::weakly_canonical(path.parent_path(), ec);
    if (ec) {
        folder = path.parent_path();
    }
    fs::path current = path;
    for (int hops = 0;; ++hops) {
        if (!fs::is_symlink(fs::symlink_status(current, ec))) {
            return {current, {}};
        }
        fs::path next = fs::read_symlink(current, ec);
        if (ec || hops == 40) {
            return {path, "a link that cannot be followed"};
        }
        if (!next.is_absolute()) {
            next = current.parent_path() / next;
        }
        const fs::path name = next.filename();
        const fs::path parent = fs::weakly_canonical(next.parent_path(), ec);
        if (ec || name.empty() || name == "." || name == ".." || !isWithin(parent, folder)) {
            return {path, "a link to " + next.string() + ", outside " + folder.string()};
        }
        current = parent / name;
    }
}

enum class ReadStatus { read, missing, failed };

// Reads a regular file whole. Anything else (a FIFO, a device, a folder) fails at once
// rather than blocking start-up.
ReadStatus readRegularFile(const fs::path& path, std::string& text, std::string& reason) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) {
            return ReadStatus::missing;
        }
        reason = std::strerror(errno);
        return ReadStatus::failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = "not a regular file";
        ::close(fd);
        return ReadStatus::failed;
    }
    const auto tooLarge = [&reason](std::uint64_t size) {
        reason = "it holds " + std::to_string(size) + " bytes, more than settings ever take: " +
                 std::to_string(FileDefaults::maximumFileSize) + " at most";
    };
    // Refused before reading: parsing a file of hundreds of megabytes takes a minute and
    // several times its size in memory.
    if (static_cast<std::uint64_t>(st.st_size) > FileDefaults::maximumFileSize) {
        tooLarge(static_cast<std::uint64_t>(st.st_size));
        ::close(fd);
        return ReadStatus::failed;
    }
    text.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            reason = std::strerror(errno);
            ::close(fd);
            return ReadStatus::failed;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > FileDefaults::maximumFileSize) {  // it grew while being read
            tooLarge(text.size());
            ::close(fd);
            return ReadStatus::failed;
        }
    }
    ::close(fd);
    return ReadStatus::read;
}

// A copy of the file under a name that says why, for values the program could not read.
std::optional<fs::path> copyAside(const fs::path& path, const std::string& text,
                                  std::string_view why) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path target = path;
        target += ".";
        target += why;
        target += "-";
        target += timestampSuffix();
        if (attempt > 0) {
            target += "-";
            target += std::to_string(attempt);
        }
        const int fd =
            ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return std::nullopt;
        }
        const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
        ::close(fd);
        if (!written) {
            ::unlink(target.c_str());
            return std::nullopt;
        }
        return target;
    }
    return std::nullopt;
}

// A copy of `text` in which every number no double can hold (1e400) reads null, so that the
// parser takes the rest and only the value holding it is left out; none when there is none.
std::optional<std::string> withOverflowingNumbersAsNull(std::string_view text) {
    std::optional<std::string> out;
    std::size_t copied = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
            continue;
        }
        if (c != '-' && (c < '0' || c > '9')) {
            continue;
        }
        std::size_t end = i + 1;
        while (end < text.size() &&
               (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.' ||
                text[end] == 'e' || text[end] == 'E' || text[end] == '+' || text[end] == '-')) {
            ++end;
        }
        const std::string number(text.substr(i, end - i));
        if (!std::isfinite(std::strtod(number.c_str(), nullptr))) {
            if (!out) {
                out.emplace();
            }
            out->append(text.substr(copied, i - copied));
            out->append("null");
            copied = end;
        }
        i = end - 1;
    }
    if (out) {
        out->append(text.substr(copied));
    }
    return out;
}

}  // namespace

std::string encodeDefaultsFile(const ValueMap& values) {
    json root = json::object();
    for (const auto& [key, value] : values) {
        root[key] = toJSON(value);
    }
    return root.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<DecodedDefaultsFile> decodeDefaultsFileLeniently(std::string_view text) {
    if (jsonNestsDeeperThan(text, FileDefaults::maximumNesting)) {
        return std::nullopt;
    }
    json root = json::parse(text.begin(), text.end(), nullptr, false);
    if (root.is_discarded()) {
        // JSON allows numbers no double holds; the parser refuses them, and with them the file.
        if (const auto readable = withOverflowingNumbersAsNull(text)) {
            root = json::parse(readable->begin(), readable->end(), nullptr, false);
        }
    }
    if (root.is_discarded() || !root.is_object()) {
        return std::nullopt;
    }
    DecodedDefaultsFile out;
    for (const auto& [key, value] : root.items()) {
        if (auto decoded = fromJSON(value)) {
            out.values.emplace(key, std::move(*decoded));
        } else {
            out.unreadableKeys.push_back(key);
        }
    }
    return out;
}

std::optional<ValueMap> decodeDefaultsFile(std::string_view text) {
    if (jsonNestsDeeperThan(text, FileDefaults::maximumNesting)) {
        return std::nullopt;
    }
    json root = json::parse(text.begin(), text.end(), nullptr, false);
    if (root.is_discarded() || !root.is_object()) {
        return std::nullopt;
    }
    ValueMap out;
    for (const auto& [key, value] : root.items()) {
        auto decoded = fromJSON(value);
        if (!decoded) {
            return std::nullopt;
        }
        out.emplace(key, std::move(*decoded));
    }
    return out;
}

std::optional<bool> Defaults::boolean(std::string_view key) const {
    auto v = value(key);
    if (!v)
        return std::nullopt;
    if (auto b = v->asBool())
        return *b;
    if (auto i = v->asInteger())
        return *i != 0;
    if (auto d = v->asDouble())
        return *d != 0.0;
    return std::nullopt;
}

std::optional<std::int64_t> Defaults::integer(std::string_view key) const {
    auto v = value(key);
    if (!v)
        return std::nullopt;
    if (auto i = v->asInteger())
        return *i;
    if (auto b = v->asBool())
        return *b ? 1 : 0;
    if (auto d = v->asDouble()) {
        // Out-of-range or NaN doubles do not convert.
        if (std::isfinite(*d) && *d >= -9.2233720368547748e18 && *d < 9.2233720368547758e18) {
            return static_cast<std::int64_t>(*d);
        }
    }
    return std::nullopt;
}

std::optional<double> Defaults::real(std::string_view key) const {
    auto v = value(key);
    if (!v)
        return std::nullopt;
    if (auto d = v->asDouble())
        return *d;
    if (auto i = v->asInteger())
        return static_cast<double>(*i);
    if (auto b = v->asBool())
        return *b ? 1.0 : 0.0;
    return std::nullopt;
}

std::optional<std::string> Defaults::string(std::string_view key) const {
    auto v = value(key);
    if (!v)
        return std::nullopt;
    if (auto s = v->asString())
        return *s;
    return std::nullopt;
}

std::optional<DefaultsValue::Data> Defaults::data(std::string_view key) const {
    auto v = value(key);
    if (!v)
        return std::nullopt;
    if (auto d = v->asData())
        return *d;
    return std::nullopt;
}

std::optional<DefaultsValue> MemoryDefaults::value(std::string_view key) const {
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

void MemoryDefaults::set(std::string_view key, DefaultsValue value) {
    auto it = values_.find(key);
    if (it != values_.end() && it->second == value) {
        return;
    }
    values_.insert_or_assign(std::string(key), std::move(value));
    noteChange();
}

void MemoryDefaults::remove(std::string_view key) {
    auto it = values_.find(key);
    if (it != values_.end()) {
        values_.erase(it);
        noteChange();
    }
}

std::vector<std::string> MemoryDefaults::keys() const {
    std::vector<std::string> out;
    for (const auto& [k, v] : values_)
        out.push_back(k);
    return out;
}

FileDefaults::FileDefaults(fs::path path) : path_(std::move(path)) {
    load();
}

FileDefaults::~FileDefaults() {
    flush();
}

void FileDefaults::deferWrites(Runtime& runtime, Seconds delay) {
    runtime_ = &runtime;
    delay_ = delay;
}

bool FileDefaults::flush() {
    return !dirty_ || persist(true);
}

void FileDefaults::keepChangesInMemory(std::string_view reason) {
    if (!writable_) {
        return;
    }
    writable_ = false;
    memoryOnly_ = true;
    writeTask_.cancel();
    log().error(
        "Changes to the settings cannot be kept in %{public}s (%{public}s); they stay in "
        "memory until Tesvano quits",
        path_.string(), std::string(reason));
    setProblem("Changes to the settings cannot be kept in " + path_.string() + " (" +
               std::string(reason) + ")");
}

std::optional<std::string> FileDefaults::saveNow() {
    if (dirty_) {
        persist(false);
    }
    return problem_;
}

void FileDefaults::setProblem(std::optional<std::string> problem) {
    if (problem != problem_) {
        problem_ = std::move(problem);
        noteSaveProblemChanged();
    }
}

void FileDefaults::scheduleWrite(Seconds delay) {
    // The file is complete on disk before it replaces the old one; the rename itself is made
    // durable by the next flush at quit (a power cut before then keeps the previous version,
    // never half of one).
    writeTask_ = runtime_->after(delay, [this] {
        writeTask_.detach();
        if (dirty_) {
            persist(false);
        }
    });
}

void FileDefaults::changed() {
    dirty_ = true;
    noteChange();
    if (runtime_ == nullptr) {
        persist();
        return;
    }
    // The first change of a burst sets the time; later ones ride along, as they do while a
    // failed write waits for its retry.
    if (!writeTask_.active()) {
        scheduleWrite(delay_);
    }
}

fs::path FileDefaults::standardPath() {
    fs::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        base = fs::path(home) / ".config";
    } else {
        base = fs::temp_directory_path();
    }
    return base / "tesvano" / "settings.json";
}

void FileDefaults::reload() {
    // What this process changed goes first; the file then holds both. Changes that cannot be
    // written are not given up for the file's older values.
    if (!flush()) {
        return;
    }
    load();
}

void FileDefaults::load() {
    values_.clear();
    writable_ = !memoryOnly_;
    dirty_ = false;
    if (!memoryOnly_) {
        setProblem(std::nullopt);
    }
    removeStaleTemporaries(writeTarget(path_).path);

    std::string text;
    std::string reason;
    const ReadStatus status = readRegularFile(path_, text, reason);
    if (status == ReadStatus::missing) {
        return;  // first run
    }
    if (status == ReadStatus::failed) {
        setAside_ = setAside(path_, "unreadable");
        if (setAside_) {
            log().error(
                "Settings file %{public}s could not be read (%{public}s); moved to "
                "%{public}s and starting with defaults",
                path_.string(), reason, setAside_->string());
        } else {
            writable_ = false;
            log().error(
                "Settings file %{public}s could not be read (%{public}s); changes will "
                "not be saved so the file is not lost",
                path_.string(), reason);
            setProblem("Settings file " + path_.string() + " could not be read (" + reason +
                       ") and is kept as it is");
        }
        return;
    }
    if (text.size() > maximumSavedSize) {
        // Read, it could never be written again: the start's own writes alone make it larger
        // than a write may be. Kept whole beside the new file instead.
        setAside_ = setAside(path_, "too-large");
        const std::string why = "it holds " + std::to_string(text.size()) +
                                " bytes, too close to the " + std::to_string(maximumFileSize) +
                                " a settings file may take for any change to be saved";
        if (setAside_) {
            log().warning(
                "Settings file %{public}s is too large (%{public}s); kept it as %{public}s and "
                "started with defaults",
                path_.string(), why, setAside_->string());
        } else {
            writable_ = false;
            log().error(
                "Settings file %{public}s is too large (%{public}s) and could not be moved "
                "aside; changes will not be saved so the file is not lost",
                path_.string(), why);
            setProblem("Settings file " + path_.string() + " is too large (" + why +
                       ") and could not be moved aside");
        }
        return;
    }

    auto decoded = decodeDefaultsFileLeniently(text);
    if (decoded && decoded->unreadableKeys.empty()) {
        values_ = std::move(decoded->values);
        return;
    }
    if (decoded) {
        // One value of a kind this program does not know must not cost every other setting.
        std::string keys;
        constexpr std::size_t named = 10;
        for (std::size_t i = 0; i < std::min(named, decoded->unreadableKeys.size()); ++i) {
            keys += (keys.empty() ? "" : ", ") + decoded->unreadableKeys[i];
        }
        if (decoded->unreadableKeys.size() > named) {
            keys += " and " + std::to_string(decoded->unreadableKeys.size() - named) + " more";
        }
        setAside_ = copyAside(writeTarget(path_).path, text, "corrupt");
        if (!setAside_) {
            writable_ = false;
            setProblem("Settings file " + path_.string() +
                       " has damaged values and no copy of it could be kept");
        }
        values_ = std::move(decoded->values);
        log().warning(
            "Settings file %{public}s has damaged values under %{public}s; they are left out, "
            "the file was kept as %{public}s and the other settings are used",
            path_.string(), keys, setAside_ ? setAside_->string() : std::string("(not kept)"));
        return;
    }
    const std::string why =
        jsonNestsDeeperThan(text, maximumNesting)
            ? "its values nest deeper than " + std::to_string(maximumNesting) + " levels"
            : std::string("it is no JSON object");
    setAside_ = setAside(path_, "corrupt");
    if (setAside_) {
        log().warning(
            "Settings file %{public}s is damaged (%{public}s); kept it as %{public}s and "
            "started with defaults",
            path_.string(), why, setAside_->string());
    } else {
        writable_ = false;
        log().error(
            "Settings file %{public}s is damaged and could not be moved aside; changes "
            "will not be saved so the file is not lost",
            path_.string());
        setProblem("Settings file " + path_.string() + " is damaged and could not be moved aside");
    }
}

bool FileDefaults::persist(bool durableRename) {
    if (!writable_) {
        return false;
    }
    writeTask_.cancel();
    ++writeCount_;
    std::string failure;
    const fs::path target = replaceableTarget();
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    fs::path temporary = target;
    temporary += ".tmp-" + std::to_string(::getpid());
    // Made new, never through whatever a link in its place leads to.
    const auto openTemporary = [&temporary] {
        constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
        int fd = ::open(temporary.c_str(), flags, 0600);
        if (fd < 0 && errno == EEXIST && ::unlink(temporary.c_str()) == 0) {
            fd = ::open(temporary.c_str(), flags, 0600);
        }
        return fd;
    };
    const std::string text = encodeDefaultsFile(values_);
    if (target.empty()) {
        failure = "Could not set aside " + path_.string();
    } else if (text.size() > maximumSavedSize) {
        // Written, it would be set aside at the next start, and every setting with it.
        failure = "Could not save " + target.string() + ": the settings have grown to " +
                  std::to_string(text.size()) + " bytes, more than the " +
                  std::to_string(maximumSavedSize) + " a settings file may take; the file " +
                  "keeps the last that fit";
    } else if (ec) {
        failure = "Could not create " + target.parent_path().string() + ": " + ec.message();
    } else if (const int fd = openTemporary(); fd < 0) {
        failure = "Could not write " + temporary.string() + ": " + std::strerror(errno);
    } else {
        const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
        const int savedErrno = errno;
        ::close(fd);
        if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
            failure = "Could not save " + target.string() + ": " +
                      std::strerror(written ? errno : savedErrno);
            ::unlink(temporary.c_str());
        }
    }
    if (!failure.empty()) {
        // The changes stay marked unsaved and are tried again; said once per outage.
        if (!failing_) {
            log().error("%{public}s; the changes are kept and saving is tried again", failure);
        }
        failing_ = true;
        setProblem(failure);
        if (runtime_ != nullptr) {
            scheduleWrite(Seconds(retryDelay_));
            retryDelay_ = std::min(retryDelay_ * 2, maximumRetryDelay);
        }
        return false;
    }
    if (failing_) {
        log().notice("Settings saved again in %{public}s", target.string());
    }
    failing_ = false;
    retryDelay_ = initialRetryDelay;
    dirty_ = false;
    setProblem(std::nullopt);
    if (durableRename) {
        // Make the rename itself durable.
        const int dir = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    return true;
}

fs::path FileDefaults::replaceableTarget() {
    const WriteTarget where = writeTarget(path_);
    std::string refusal = where.refusal;
    struct stat st {};
    // What start-up reads, a write replaces: a regular file (or none yet) and nothing else.
    // The file may have been swapped for a pipe, a device or a link to one while running.
    if (refusal.empty() && ::lstat(where.path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        refusal = where.path == path_
                      ? "not a regular file"
                      : "a link to " + where.path.string() + ", which is not a regular file";
    }
    if (refusal.empty()) {
        return where.path;
    }
    // What stands there goes aside as at start-up, the link itself and never what it leads to.
    const auto kept = setAside(path_, where.refusal.empty() ? "unreadable" : "link");
    if (!kept) {
        return {};
    }
    log().warning(
        "Settings file %{public}s is %{public}s; kept it as %{public}s and saved the settings "
        "in a new file in its place",
        path_.string(), refusal, kept->string());
    return path_;
}

std::optional<DefaultsValue> FileDefaults::value(std::string_view key) const {
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

void FileDefaults::set(std::string_view key, DefaultsValue value) {
    auto it = values_.find(key);
    if (it != values_.end() && it->second == value) {
        return;
    }
    values_.insert_or_assign(std::string(key), std::move(value));
    changed();
}

void FileDefaults::remove(std::string_view key) {
    auto it = values_.find(key);
    if (it == values_.end())
        return;
    values_.erase(it);
    changed();
}

std::vector<std::string> FileDefaults::keys() const {
    std::vector<std::string> out;
    for (const auto& [k, v] : values_)
        out.push_back(k);
    return out;
}

}  // namespace tesvano::platform
