#include "Platform/Defaults/Defaults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>

#include "Platform/Defaults/Base64.h"
#include "Platform/Defaults/JsonDepth.h"
#include "Platform/Defaults/SettingsFiles.h"
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
    return *encodeDefaultsFileWithin(values, std::numeric_limits<std::size_t>::max()).text;
}

BoundedEncoding encodeDefaultsFileWithin(const ValueMap& values, std::size_t limit) {
    json root = json::object();
    for (const auto& [key, value] : values) {
        root[key] = toJSON(value);
    }
    // Indentation grows with depth: 300 KB nested 60 deep takes 17 MB as text. What passes the
    // limit is counted, not kept.
    class Sink final : public nlohmann::detail::output_adapter_protocol<char> {
    public:
        Sink(BoundedEncoding& out, std::size_t limit) : out_(out), limit_(limit) {}
        void write_character(char c) override { write_characters(&c, 1); }
        void write_characters(const char* s, std::size_t length) override {
            out_.size += length;
            if (!out_.text) {
                return;
            }
            if (out_.size > limit_) {
                out_.text.reset();
                return;
            }
            out_.text->append(s, length);
        }

    private:
        BoundedEncoding& out_;
        std::size_t limit_;
    };
    BoundedEncoding out{std::string(), 0};
    {
        nlohmann::detail::serializer<json> serializer(std::make_shared<Sink>(out, limit), ' ',
                                                      json::error_handler_t::replace);
        serializer.dump(root, true, false, 2);
    }
    Sink(out, limit).write_character('\n');
    return out;
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

FileDefaults::FileDefaults(fs::path path, FileDefaultsOptions options)
    : path_(std::move(path)),
      options_(std::move(options)),
      maximumSaved_(options_.maximumFileSize - std::min(saveHeadroom, options_.maximumFileSize)) {
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
    writeDue_ = runtime_->uptime() + delay;
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
    // The first change of a burst sets the time; later ones ride along. While a failed write
    // waits for its retry, a change is tried as soon as a first one would be: it may be what
    // makes the settings fit again.
    if (!writeTask_.active() || (failing_ && writeDue_ > runtime_->uptime() + delay_)) {
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
    encodedValid_ = false;
    encoded_.reset();
    writable_ = !memoryOnly_;
    dirty_ = false;
    if (!memoryOnly_) {
        setProblem(std::nullopt);
    }
    removeStaleTemporaries(writeTarget(path_).path);

    std::string text;
    std::string reason;
    const ReadStatus status =
        readRegularFile(path_, ReadLimits{.maximumSize = options_.maximumFileSize}, text, reason);
    if (status == ReadStatus::missing) {
        return;  // first run
    }
    if (status == ReadStatus::failed || status == ReadStatus::notRegular) {
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
    if (text.size() > maximumSaved_) {
        // Read, it could never be written again: the start's own writes alone make it larger
        // than a write may be. Kept whole beside the new file instead.
        setAsideTooLarge("it holds " + std::to_string(text.size()) + " bytes, too close to the " +
                         std::to_string(options_.maximumFileSize) +
                         " a settings file may take for any change to be saved");
        return;
    }

    auto decoded = decodeDefaultsFileLeniently(text);
    // Saved, the values may take far more than the file did (indentation, fields written out
    // that the file left to their defaults): such a file would answer every change with a
    // failed save, so it goes aside whole as one too large to read.
    if (decoded) {
        if (const auto why = tooLargeToSave(decoded->values)) {
            setAsideTooLarge(*why);
            return;
        }
    }
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

std::optional<std::string> FileDefaults::tooLargeToSave(const ValueMap& values) const {
    BoundedEncoding saved;
    if (options_.startRewrite) {
        MemoryDefaults started(values);
        options_.startRewrite(started);
        saved = encodeDefaultsFileWithin(started.values(), maximumSaved_);
    } else {
        saved = encodeDefaultsFileWithin(values, maximumSaved_);
    }
    if (saved.text) {
        return std::nullopt;
    }
    return "its values take " + std::to_string(saved.size) + " bytes once saved, more than the " +
           std::to_string(maximumSaved_) + " a save may take";
}

void FileDefaults::setAsideTooLarge(const std::string& why) {
    setAside_ = setAside(path_, "too-large");
    if (setAside_) {
        log().warning(
            "Settings file %{public}s is too large (%{public}s); kept it as %{public}s and "
            "started with defaults",
            path_.string(), why, setAside_->string());
        return;
    }
    writable_ = false;
    log().error(
        "Settings file %{public}s is too large (%{public}s) and could not be moved aside; "
        "changes will not be saved so the file is not lost",
        path_.string(), why);
    setProblem("Settings file " + path_.string() + " is too large (" + why +
               ") and could not be moved aside");
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
    // Encoded once per change: retries of the same values only write.
    if (!encodedValid_ || encodedAtChange_ != changeCount()) {
        auto encoded = encodeDefaultsFileWithin(values_, maximumSaved_);
        encoded_ = std::move(encoded.text);
        encodedSize_ = encoded.size;
        encodedAtChange_ = changeCount();
        encodedValid_ = true;
    }
    if (target.empty()) {
        failure = "Could not set aside " + path_.string();
    } else if (!encoded_) {
        // Written, it would be set aside at the next start, and every setting with it.
        failure = "Could not save " + target.string() + ": the settings have grown to " +
                  std::to_string(encodedSize_) + " bytes, more than the " +
                  std::to_string(maximumSaved_) + " a settings file may take; the file " +
                  "keeps the last that fit";
    } else if (ec) {
        failure = "Could not create " + target.parent_path().string() + ": " + ec.message();
    } else if (const int fd = createFreshFile(temporary, 0600); fd < 0) {
        // Made new, never through whatever a link in its place leads to.
        failure = "Could not write " + temporary.string() + ": " + std::strerror(errno);
    } else {
        const bool written = writeAll(fd, *encoded_) && ::fsync(fd) == 0;
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
    encodedValid_ = false;
    encoded_.reset();
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
