#include "Tesvano/App/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "Platform/Log/Log.h"

namespace tesvano {

namespace fs = std::filesystem;

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("Instance");
    return logger;
}

constexpr std::string_view magic = "TSV1";

void putU32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

std::uint32_t getU32(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// A slow or silent client is dropped after this long.
constexpr int connectionTimeoutMs = 5000;

}  // namespace

namespace InstanceMessage {

std::string encode(const std::vector<std::string>& urls) {
    std::string out(magic);
    putU32(out, static_cast<std::uint32_t>(urls.size()));
    for (const auto& url : urls) {
        putU32(out, static_cast<std::uint32_t>(url.size()));
        out += url;
    }
    return out;
}

Decoded decode(std::string_view bytes) {
    Decoder decoder;
    const Status status = decoder.feed(bytes);
    if (status != Status::complete) {
        return {status, {}};
    }
    return {status, decoder.takeURLs()};
}

Status Decoder::feed(std::string_view bytes) {
    if (status_ == Status::invalid) {
        return status_;
    }
    received_ += bytes.size();
    if (received_ > maximumSize) {
        return status_ = Status::invalid;
    }
    while (!bytes.empty()) {
        switch (stage_) {
            case Stage::magic: {
                const std::size_t take = std::min(bytes.size(), magic.size() - header_.size());
                header_.append(bytes.substr(0, take));
                bytes.remove_prefix(take);
                if (header_ != magic.substr(0, header_.size())) {
                    return status_ = Status::invalid;
                }
                if (header_.size() == magic.size()) {
                    header_.clear();
                    stage_ = Stage::count;
                }
                break;
            }
            case Stage::count:
            case Stage::length: {
                const std::size_t take = std::min<std::size_t>(bytes.size(), 4 - header_.size());
                header_.append(bytes.substr(0, take));
                bytes.remove_prefix(take);
                if (header_.size() < 4) {
                    break;
                }
                const std::uint32_t value = getU32(header_, 0);
                header_.clear();
                if (stage_ == Stage::count) {
                    if (value > maximumCount) {
                        return status_ = Status::invalid;
                    }
                    urlsLeft_ = value;
                    stage_ = value == 0 ? Stage::done : Stage::length;
                } else {
                    if (value > maximumSize) {
                        return status_ = Status::invalid;
                    }
                    urls_.emplace_back();
                    bytesLeft_ = value;
                    stage_ = Stage::body;
                    if (value == 0) {
                        finishURL();
                    }
                }
                break;
            }
            case Stage::body: {
                const std::size_t take = std::min<std::size_t>(bytes.size(), bytesLeft_);
                urls_.back().append(bytes.substr(0, take));
                bytes.remove_prefix(take);
                bytesLeft_ -= static_cast<std::uint32_t>(take);
                if (bytesLeft_ == 0) {
                    finishURL();
                }
                break;
            }
            case Stage::done:
                return status_ = Status::invalid;
        }
    }
    status_ = stage_ == Stage::done ? Status::complete : Status::incomplete;
    return status_;
}

void Decoder::finishURL() {
    --urlsLeft_;
    stage_ = urlsLeft_ == 0 ? Stage::done : Stage::length;
}

}  // namespace InstanceMessage

fs::path SingleInstance::defaultFolder() {
    // Only a runtime folder that is this user's own: anything another user controls could
    // keep the program from starting.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && runtime[0] == '/') {
        struct stat st {};
        if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
            (st.st_mode & 022) == 0) {
            return fs::path(runtime) / "tesvano";
        }
    }
    // Never a shared folder such as /tmp, where anybody could take the name first.
    fs::path cache;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && xdg[0] == '/') {
        cache = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        cache = fs::path(home) / ".cache";
    } else {
        passwd pw{};
        passwd* found = nullptr;
        std::array<char, 4096> buffer{};
        if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
            cache = fs::path(found->pw_dir) / ".cache";
        } else {
            cache = "/";
        }
    }
    return cache / "tesvano" / "instance";
}

std::expected<std::unique_ptr<SingleInstance>, std::string> SingleInstance::claim(
    const fs::path& folder) {
    std::error_code ignored;
    fs::create_directories(folder.parent_path(), ignored);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::unexpected(errnoText("Could not create " + folder.string()));
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        return std::unexpected(errnoText("Could not inspect " + folder.string()));
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
        return std::unexpected(folder.string() + " is not a folder of this user");
    }
    if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        return std::unexpected(errnoText("Could not restrict " + folder.string()));
    }
    auto fd = takeLock(folder);
    if (!fd) {
        return std::unexpected(fd.error());
    }
    return std::unique_ptr<SingleInstance>(new SingleInstance(folder, *fd));
}

std::expected<int, std::string> SingleInstance::takeLock(const fs::path& folder) {
    const fs::path lockPath = folder / "instance.lock";
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return std::unexpected(errnoText("Could not open " + lockPath.string()));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) {
            return -1;
        }
        errno = error;
        return std::unexpected(errnoText("Could not lock " + lockPath.string()));
    }
    return fd;
}

SingleInstance::~SingleInstance() {
    if (server_ != nullptr) {
        server_->close();
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_);
    }
}

std::expected<SingleInstance::HandOver, std::string> SingleInstance::handOver(
    const std::vector<std::string>& urls, std::chrono::milliseconds timeout) {
    const std::string path = socketPath().string();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        return std::unexpected("The socket path is too long: " + path);
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int fd = -1;
    for (;;) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return std::unexpected(errnoText("Could not make a socket"));
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
            break;
        }
        const int error = errno;
        ::close(fd);
        fd = -1;
        if (error != ENOENT && error != ECONNREFUSED) {
            errno = error;
            return std::unexpected(errnoText("Could not reach the running Tesvano at " + path));
        }
        // Nobody listens: the program that holds the lock may not listen yet, or it has just
        // ended and its lock goes with it a moment later.
        if (const auto lock = takeLock(folder_); lock && *lock >= 0) {
            lockFd_ = *lock;
            log().info("The running Tesvano has ended; this launch runs in its place");
            return HandOver::becamePrimary;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            errno = error;
            return std::unexpected(errnoText("Could not reach the running Tesvano at " + path));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    const std::string message = InstanceMessage::encode(urls);
    std::size_t sent = 0;
    while (sent < message.size()) {
        const ssize_t n = ::send(fd, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const std::string failure = errnoText("Could not send to the running Tesvano");
            ::close(fd);
            return std::unexpected(failure);
        }
        sent += static_cast<std::size_t>(n);
    }

    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        char answer = 0;
        const bool answered = ready > 0 && ::recv(fd, &answer, 1, 0) == 1;
        // Confirming is what lets the message run: without it the running program withdraws it.
        const bool confirmed = answered && answer == InstanceMessage::receipt &&
                               ::send(fd, &InstanceMessage::receipt, 1, MSG_NOSIGNAL) == 1;
        ::close(fd);
        if (confirmed) {
            return HandOver::delivered;
        }
        if (answered && answer == InstanceMessage::refusal) {
            return std::unexpected(
                "The running Tesvano has too many commands waiting and refused these; nothing "
                "was done. Try again later");
        }
        return std::unexpected(
            "The running Tesvano did not confirm the hand-over in time; it was withdrawn and "
            "will not run");
    }
}

std::expected<void, std::string> SingleInstance::listen(
    std::function<void(std::vector<std::string>)> onMessage) {
    Receiver receiver;
    receiver.admit = [](const std::vector<std::string>&) { return true; };
    receiver.deliver = std::move(onMessage);
    return listen(std::move(receiver));
}

std::expected<void, std::string> SingleInstance::listen(Receiver receiver) {
    if (!isPrimary()) {
        return std::unexpected("Another Tesvano is running");
    }
    receiver_ = std::move(receiver);
    const QString path = QString::fromStdString(socketPath().string());
    // We hold the lock, so whatever socket lies there was left by a process that is gone.
    QLocalServer::removeServer(path);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path)) {
        return std::unexpected("Could not listen on " + socketPath().string() + ": " +
                               server_->errorString().toStdString());
    }
    connect(server_, &QLocalServer::newConnection, this, [this] { accept(); });
    return {};
}

namespace {

// One hand-over as the running program sees it.
struct Connection {
    enum class Stage { reading, awaitingConfirmation, done };
    Stage stage = Stage::reading;
    InstanceMessage::Decoder decoder;
    std::vector<std::string> urls;  // admitted, until confirmed or withdrawn
};

}  // namespace

void SingleInstance::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        ucred peer{};
        socklen_t length = sizeof(peer);
        const int fd = static_cast<int>(socket->socketDescriptor());
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
            peer.uid != ::getuid()) {
            log().error("Refused a hand-over from another user");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto connection = std::make_shared<Connection>();
        auto* timeout = new QTimer(socket);
        timeout->setSingleShot(true);
        // Once admitted, the message runs only if its sender confirmed; whatever the sender
        // sent before it went away or the time ran out is read first.
        const auto settle = [this, socket, connection](bool ending) {
            if (connection->stage != Connection::Stage::awaitingConfirmation) {
                return;
            }
            const QByteArray answer = socket->readAll();
            if (answer.contains(InstanceMessage::receipt)) {
                connection->stage = Connection::Stage::done;
                socket->disconnectFromServer();
                if (receiver_.deliver) {
                    receiver_.deliver(std::move(connection->urls));
                }
            } else if (ending) {
                connection->stage = Connection::Stage::done;
                log().error("Withdrew a hand-over whose sender gave up waiting");
                if (receiver_.withdraw) {
                    receiver_.withdraw(connection->urls);
                }
            }
        };
        connect(timeout, &QTimer::timeout, socket, [socket, connection, settle] {
            settle(true);
            if (connection->stage == Connection::Stage::reading) {
                log().error("Dropped a hand-over that did not finish");
            }
            connection->stage = Connection::Stage::done;
            socket->abort();
        });
        timeout->start(connectionTimeoutMs);
        connect(socket, &QLocalSocket::disconnected, socket, [socket, settle] {
            settle(true);
            socket->deleteLater();
        });
        connect(
            socket, &QLocalSocket::readyRead, this, [this, socket, connection, timeout, settle] {
                if (connection->stage == Connection::Stage::awaitingConfirmation) {
                    settle(false);
                    return;
                }
                if (connection->stage == Connection::Stage::done) {
                    socket->readAll();  // after the message: nothing more is read
                    return;
                }
                const QByteArray chunk = socket->readAll();
                const auto status = connection->decoder.feed(
                    std::string_view(chunk.constData(), static_cast<std::size_t>(chunk.size())));
                if (status == InstanceMessage::Status::incomplete) {
                    return;
                }
                if (status == InstanceMessage::Status::invalid) {
                    log().error("Dropped a hand-over that is not ours");
                    connection->stage = Connection::Stage::done;
                    socket->abort();
                    return;
                }
                connection->urls = connection->decoder.takeURLs();
                if (receiver_.admit && !receiver_.admit(connection->urls)) {
                    log().error("Refused a hand-over: too many commands are waiting");
                    connection->stage = Connection::Stage::done;
                    std::vector<std::string>().swap(connection->urls);  // nothing of it stays
                    socket->write(&InstanceMessage::refusal, 1);
                    socket->flush();
                    socket->disconnectFromServer();
                    return;
                }
                connection->stage = Connection::Stage::awaitingConfirmation;
                socket->write(&InstanceMessage::receipt, 1);
                socket->flush();
                timeout->start(connectionTimeoutMs);
            });
    }
}

}  // namespace tesvano
