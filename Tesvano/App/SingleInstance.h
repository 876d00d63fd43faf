#pragma once

#include <QObject>
#include <chrono>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QLocalServer;

namespace tesvano {

// The wire form of one hand-over: "TSV1", a count, then each URL as a length and its bytes
// (lengths and count big-endian, 32 bits). An empty list asks for a reopen.
namespace InstanceMessage {

inline constexpr std::size_t maximumSize = 1 << 20;
inline constexpr std::uint32_t maximumCount = 4096;
// The byte the running program answers once it has the whole message and room for it; the
// sender answers the same byte to confirm it still waits, and only then does the message run.
inline constexpr char receipt = '\x06';
// The byte the running program answers when too much waits already: the message is dropped.
inline constexpr char refusal = '\x15';

std::string encode(const std::vector<std::string>& urls);

enum class Status { complete, incomplete, invalid };
struct Decoded {
    Status status;
    std::vector<std::string> urls;  // when complete
};
Decoded decode(std::string_view bytes);

// Reads a message as its pieces arrive, looking at each byte once.
class Decoder {
public:
    // The status once `bytes` are added; bytes after a complete message make it invalid.
    Status feed(std::string_view bytes);
    Status status() const { return status_; }
    // The URLs of a complete message.
    std::vector<std::string> takeURLs() { return std::move(urls_); }

private:
    enum class Stage { magic, count, length, body, done };
    void finishURL();

    Status status_ = Status::incomplete;
    Stage stage_ = Stage::magic;
    std::string header_;  // the magic or a length, while it is incomplete
    std::size_t received_ = 0;
    std::uint32_t urlsLeft_ = 0;
    std::uint32_t bytesLeft_ = 0;
    std::vector<std::string> urls_;
};

}  // namespace InstanceMessage

// One running Tesvano per user. The first launch holds a lock in a folder only this user can
// enter and listens on a local socket beside it; later launches find the lock taken, hand
// their URLs (or a reopen) to the running one and exit. Connections from other users are
// refused by their credentials too.
class SingleInstance final : public QObject {
public:
    // $XDG_RUNTIME_DIR/tesvano when that folder is this user's and closed to others, else
    // $XDG_CACHE_HOME/tesvano/instance (default ~/.cache).
    static std::filesystem::path defaultFolder();

    // Makes the folder (0700) and refuses one that another user owns or others can enter;
    // then tries the lock. Primary when it was free.
    static std::expected<std::unique_ptr<SingleInstance>, std::string> claim(
        const std::filesystem::path& folder);
    ~SingleInstance() override;

    bool isPrimary() const { return lockFd_ >= 0; }
    std::filesystem::path socketPath() const { return folder_ / "instance"; }

    // Secondary: delivers the URLs, waits for the receipt and confirms it. What it returns is
    // what happens: delivered once the running program holds the message and will run it; an
    // error when it refused the message or did not answer by `timeout` (the message is then
    // withdrawn and never runs). The running program may still be starting, so the connection
    // is retried until `timeout`; while it is refused the lock is tried again, and once the
    // copy that held it has ended (killed a moment ago) this one takes it and is the primary
    // in its place: nothing was handed over.
    enum class HandOver { delivered, becamePrimary };
    std::expected<HandOver, std::string> handOver(
        const std::vector<std::string>& urls,
        std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // What the running program does with the messages of later launches, on the main thread.
    struct Receiver {
        // Whether a complete message may be taken (room is then kept for it until it is
        // delivered or withdrawn); its sender learns of a refusal.
        std::function<bool(const std::vector<std::string>&)> admit;
        // A message its sender confirmed, in the order of the confirmations.
        std::function<void(std::vector<std::string>)> deliver;
        // An admitted message whose sender gave up before confirming: it never runs.
        std::function<void(const std::vector<std::string>&)> withdraw;
    };

    // Primary: listens for messages from this user.
    std::expected<void, std::string> listen(Receiver receiver);
    // The same, taking every message.
    std::expected<void, std::string> listen(
        std::function<void(std::vector<std::string>)> onMessage);

private:
    SingleInstance(std::filesystem::path folder, int lockFd)
        : folder_(std::move(folder)), lockFd_(lockFd) {}
    // The held lock's descriptor, -1 when another process holds it.
    static std::expected<int, std::string> takeLock(const std::filesystem::path& folder);
    void accept();

    std::filesystem::path folder_;
    int lockFd_ = -1;
    QLocalServer* server_ = nullptr;
    Receiver receiver_;
};

}  // namespace tesvano
