#include "tests/support/LoopbackServer.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace tesvano::test {

LoopbackServer::LoopbackServer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listen_, 16);
    socklen_t length = sizeof address;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    ::pipe2(stop_, O_CLOEXEC);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    ::write(stop_[1], "x", 1);
    acceptor_.join();
    for (auto& t : connections_) {
        t.join();
    }
    ::close(listen_);
    ::close(stop_[0]);
    ::close(stop_[1]);
}

void LoopbackServer::answer(const std::string& path, Answer a) {
    std::lock_guard lock(mutex_);
    answers_[path] = std::move(a);
}

void LoopbackServer::redirect(const std::string& path, int hops) {
    std::lock_guard lock(mutex_);
    std::string next = "/moved" + path;
    answers_[next] = answers_[path];
    for (int hop = hops - 1; hop >= 0; --hop) {
        const std::string from = hop == 0 ? path : "/hop" + std::to_string(hop) + path;
        answers_[from] = {url(next), Mode::redirect};
        next = from;
    }
}

int LoopbackServer::hits(const std::string& path) {
    std::lock_guard lock(mutex_);
    return hits_[path];
}

void LoopbackServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listen_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        ::poll(fds, 2, -1);
        if (fds[1].revents != 0) {
            return;
        }
        const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
            connections_.emplace_back([this, client] { serve(client); });
        }
    }
}

void LoopbackServer::serve(int client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        // A browser opens connections ahead that may never carry a request.
        pollfd fds[2] = {{client, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        ::poll(fds, 2, -1);
        const ssize_t n = fds[1].revents != 0 ? 0 : ::read(client, buffer, sizeof buffer);
        if (n <= 0) {
            ::close(client);
            return;
        }
        request.append(buffer, static_cast<std::size_t>(n));
    }
    const auto start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);
    Answer a;
    bool found = false;
    {
        std::lock_guard lock(mutex_);
        ++hits_[path];
        if (auto it = answers_.find(path); it != answers_.end()) {
            a = it->second;
            found = true;
        }
    }
    if (!found) {
        send(client, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        ::close(client);
        return;
    }
    if (a.mode == Mode::redirect) {
        send(client, "HTTP/1.1 302 Found\r\nLocation: " + a.body +
                         "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        ::close(client);
        return;
    }
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: " + a.type +
                             "\r\nCache-Control: no-store\r\nConnection: close\r\nContent-Length: ";
    if (a.mode == Mode::generated) {
        send(client, head + std::to_string(a.generatedBytes) + "\r\n\r\n");
        const std::string zeros(1 << 20, '\0');
        for (std::uint64_t sent = 0; sent < a.generatedBytes; sent += zeros.size()) {
            if (!send(client, zeros.substr(0, std::min<std::uint64_t>(zeros.size(),
                                                                      a.generatedBytes - sent)))) {
                break;
            }
        }
        ::close(client);
        return;
    }
    if (a.mode == Mode::file) {
        const int fd = ::open(a.body.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        ::fstat(fd, &info);
        send(client, head + std::to_string(info.st_size) + "\r\n\r\n");
        off_t offset = 0;
        while (offset<info.st_size&& ::sendfile(
                   client, fd, &offset, static_cast<std::size_t>(info.st_size - offset))> 0) {
        }
        ::close(fd);
        ::close(client);
        return;
    }
    std::string body = a.body;
    if (a.mode == Mode::longer) {
        body += std::string(64, 'x');
    }
    send(client, head + std::to_string(body.size()) + "\r\n\r\n");
    if (a.mode == Mode::truncate) {
        send(client, body.substr(0, body.size() / 2));
    } else if (a.mode == Mode::stall) {
        send(client, body.substr(0, 100));
        pollfd fd{stop_[0], POLLIN, 0};
        ::poll(&fd, 1, 60'000);  // until the test ends
    } else {
        send(client, body);
    }
    ::close(client);
}

bool LoopbackServer::send(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace tesvano::test
