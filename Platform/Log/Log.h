#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tesvano::platform {

enum class LogLevel { debug, info, notice, warning, error };

struct LogRecord {
    LogLevel level;
    std::string subsystem;
    std::string category;
    std::string message;  // already formatted, private values redacted
};

class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const LogRecord& record) = 0;
};

// Keeps every record in memory; tests install it to check what was logged.
class CaptureLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override { records.push_back(record); }
    bool contains(std::string_view text) const;
    std::vector<LogRecord> records;
};

// One argument of a log format, already turned into text.
struct LogArg {
    enum class Kind { text, integer, real };
    Kind kind;
    std::string text;
    long double number = 0;

    LogArg(std::string_view s) : kind(Kind::text), text(s) {}
    LogArg(const std::string& s) : kind(Kind::text), text(s) {}
    LogArg(const char* s) : kind(Kind::text), text(s ? s : "(null)") {}
    template <typename T>
    requires std::is_integral_v<T> LogArg(T v)
        : kind(Kind::integer), text(std::to_string(v)), number(v) {}
    template <typename T>
    requires std::is_floating_point_v<T> LogArg(T v) : kind(Kind::real), number(v) {}
};

// Expands a unified-log style format: %{public}s shows the value, %s and %{private}s show
// "<private>" for text (numbers are public unless marked private), %d %ld %lld %u %lu %f
// %.Nf %g and %% as in printf. When TESVANO_LOG_PRIVATE=1 private values are shown.
std::string formatLogMessage(std::string_view format, const std::vector<LogArg>& args);

// The subsystem every logger of the program uses.
std::string_view logSubsystem();

// Where records go: the systemd journal when there is one, else standard error.
// Tests swap in a capture sink. Returns the previous sink.
std::shared_ptr<LogSink> setLogSink(std::shared_ptr<LogSink> sink);

// Records below `level` no longer reach standard error when that is where they go (no
// journal): a copy running on in the background keeps its caller's terminal for warnings.
void setStandardErrorThreshold(LogLevel level);

class Logger {
public:
    explicit Logger(std::string category) : category_(std::move(category)) {}

    template <typename... A>
    void debug(std::string_view format, const A&... args) const {
        log(LogLevel::debug, format, {LogArg(args)...});
    }
    template <typename... A>
    void info(std::string_view format, const A&... args) const {
        log(LogLevel::info, format, {LogArg(args)...});
    }
    template <typename... A>
    void notice(std::string_view format, const A&... args) const {
        log(LogLevel::notice, format, {LogArg(args)...});
    }
    template <typename... A>
    void warning(std::string_view format, const A&... args) const {
        log(LogLevel::warning, format, {LogArg(args)...});
    }
    template <typename... A>
    void error(std::string_view format, const A&... args) const {
        log(LogLevel::error, format, {LogArg(args)...});
    }

    void log(LogLevel level, std::string_view format, const std::vector<LogArg>& args) const;
    const std::string& category() const { return category_; }

private:
    std::string category_;
};

}  // namespace tesvano::platform
