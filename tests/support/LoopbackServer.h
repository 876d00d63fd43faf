#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tesvano::test {

// HTTP/1.1 on 127.0.0.1 at a port of its own, any host name, one thread per connection, each
// path answered as the test says.
class LoopbackServer {
public:
    enum class Mode { whole, truncate, longer, stall, generated, redirect, file };
    struct Answer {
        std::string body;  // Mode::redirect: where to; Mode::file: the file, never held
        Mode mode = Mode::whole;
        std::uint64_t generatedBytes = 0;  // Mode::generated: this many zeros, never held
        std::string type = "application/octet-stream";
    };

    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    void answer(const std::string& path, Answer a);
    // `path` answers with `hops` redirects in a row, the last to where its answer now is.
    void redirect(const std::string& path, int hops);
    // How many requests asked for `path`.
    int hits(const std::string& path);

private:
    void acceptLoop();
    void serve(int client);
    static bool send(int fd, const std::string& data);

    int listen_ = -1;
    int stop_[2] = {-1, -1};
    int port_ = 0;
    std::thread acceptor_;
    std::vector<std::thread> connections_;
    std::mutex mutex_;
    std::map<std::string, Answer> answers_;
    std::map<std::string, int> hits_;
};

}  // namespace tesvano::test
