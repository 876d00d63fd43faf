#include "Platform/Log/Log.h"

#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace tesvano::platform {

namespace {

bool showPrivateValues() {
    const char* v = std::getenv("TESVANO_LOG_PRIVATE");
    return v != nullptr && std::string_view(v) == "1";
}

bool debugEnabled() {
    const char* v = std::getenv("TESVANO_DEBUG");
    return v != nullptr && *v != '\0' && std::string_view(v) != "0";
}

std::string_view levelName(LogLevel level) {
    switch (level) {
        case LogLevel::debug:
            return "debug";
        case LogLevel::info:
            return "info";
        case LogLevel::notice:
            return "notice";
        case LogLevel::warning:
            return "warning";
        case LogLevel::error:
            return "error";
    }
    return "info";
}

std::atomic<LogLevel>& standardErrorThreshold() {
    static std::atomic<LogLevel> level{LogLevel::debug};
    return level;
}

class StderrSink final : public LogSink {
public:
    void write(const LogRecord& r) override {
        if (r.level < standardErrorThreshold().load(std::memory_order_relaxed)) {
            return;
        }
        std::fprintf(stderr, "tesvano[%s:%s] %s: %s\n", r.subsystem.c_str(), r.category.c_str(),
                     std::string(levelName(r.level)).c_str(), r.message.c_str());
    }
};

class JournalSink final : public LogSink {
public:
    void write(const LogRecord& r) override {
        int priority = LOG_INFO;
        switch (r.level) {
            case LogLevel::debug:
                priority = LOG_DEBUG;
                break;
            case LogLevel::info:
                priority = LOG_INFO;
                break;
            case LogLevel::notice:
                priority = LOG_NOTICE;
                break;
            case LogLevel::warning:
                priority = LOG_WARNING;
                break;
            case LogLevel::error:
                priority = LOG_ERR;
                break;
        }
        sd_journal_send("MESSAGE=%s", r.message.c_str(), "PRIORITY=%i", priority,
                        "SYSLOG_IDENTIFIER=tesvano", "TESVANO_SUBSYSTEM=%s", r.subsystem.c_str(),
                        "TESVANO_CATEGORY=%s", r.category.c_str(), nullptr);
    }
};

std::shared_ptr<LogSink> makeDefaultSink() {
    struct stat st {};
    if (::stat("/run/systemd/journal/socket", &st) == 0) {
        return std::make_shared<JournalSink>();
    }
    return std::make_shared<StderrSink>();
}

std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<LogSink>& currentSink() {
    static std::shared_ptr<LogSink> sink = makeDefaultSink();
    return sink;
}

std::string formatNumber(const LogArg& arg, std::string_view spec) {
    if (arg.kind == LogArg::Kind::text) {
        return arg.text;
    }
    const char conv = spec.empty() ? 'd' : spec.back();
    if (conv == 'f' || conv == 'g' || conv == 'e') {
        std::string fmt = "%";
        fmt.append(spec.substr(0, spec.size() - 1)).append(1, 'L').append(1, conv);
        char buf[64];
        std::snprintf(buf, sizeof buf, fmt.c_str(), arg.number);
        return buf;
    }
    if (arg.kind == LogArg::Kind::integer) {
        return arg.text;
    }
    return std::to_string(static_cast<long long>(arg.number));
}

}  // namespace

bool CaptureLogSink::contains(std::string_view text) const {
    for (const auto& r : records) {
        if (r.message.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string formatLogMessage(std::string_view format, const std::vector<LogArg>& args) {
    const bool revealPrivate = showPrivateValues();
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        enum class Privacy { unspecified, isPublic, isPrivate } privacy = Privacy::unspecified;
        if (j < format.size() && format[j] == '{') {
            const auto close = format.find('}', j);
            if (close == std::string_view::npos) {
                out.append(format.substr(i));
                break;
            }
            const auto tag = format.substr(j + 1, close - j - 1);
            privacy = tag == "public"    ? Privacy::isPublic
                      : tag == "private" ? Privacy::isPrivate
                                         : Privacy::unspecified;
            j = close + 1;
        }
        // Flags, width, precision and length, then the conversion character.
        const std::size_t specStart = j;
        while (j < format.size() && std::string_view("0123456789.-+ #lhzqjL").find(format[j]) !=
                                        std::string_view::npos) {
            ++j;
        }
        if (j >= format.size()) {
            out.append(format.substr(i));
            break;
        }
        std::string spec;
        for (char s : format.substr(specStart, j - specStart + 1)) {
            if (std::string_view("lhzqjL").find(s) == std::string_view::npos) {
                spec.push_back(s);
            }
        }
        i = j;
        if (next >= args.size()) {
            out.append("<missing>");
            continue;
        }
        const LogArg& arg = args[next++];
        const bool isText = arg.kind == LogArg::Kind::text;
        const bool hidden = !revealPrivate && (privacy == Privacy::isPrivate ||
                                               (privacy == Privacy::unspecified && isText));
        if (hidden) {
            out.append("<private>");
        } else {
            out.append(formatNumber(arg, spec));
        }
    }
    return out;
}

std::string_view logSubsystem() {
    // The program's own reverse-DNS name, also its app id.
    return "com.quorvel.Tesvano";
}

void setStandardErrorThreshold(LogLevel level) {
    standardErrorThreshold().store(level, std::memory_order_relaxed);
}

std::shared_ptr<LogSink> setLogSink(std::shared_ptr<LogSink> sink) {
    std::lock_guard lock(sinkMutex());
    auto previous = currentSink();
    currentSink() = sink ? std::move(sink) : makeDefaultSink();
    return previous;
}

void Logger::log(LogLevel level, std::string_view format, const std::vector<LogArg>& args) const {
    if (level == LogLevel::debug && !debugEnabled()) {
        return;
    }
    LogRecord record{level, std::string(logSubsystem()), category_, formatLogMessage(format, args)};
    std::lock_guard lock(sinkMutex());
    currentSink()->write(record);
}

}  // namespace tesvano::platform
