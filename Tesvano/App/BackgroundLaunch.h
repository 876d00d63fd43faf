#pragma once

namespace tesvano {

// A launch with commands when no Tesvano runs yet. The desktop's URL opener (xdg-open) runs
// the program and waits until it ends; so the program goes on in a child process of its own
// session, and the process that was started ends once that child has taken the commands.
class BackgroundLaunch {
public:
    // Forks. Returns in the child only (and where the fork failed, in the process as it was);
    // the started process waits for `taken` and exits 0, or 1 when the child ended first.
    static BackgroundLaunch detach();
    ~BackgroundLaunch();
    BackgroundLaunch(BackgroundLaunch&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    BackgroundLaunch(const BackgroundLaunch&) = delete;
    BackgroundLaunch& operator=(const BackgroundLaunch&) = delete;
    BackgroundLaunch& operator=(BackgroundLaunch&&) = delete;

    // The commands are taken: the started process ends, and what is written from now on no
    // longer goes to its output (unless the log is meant for standard error, $TESVANO_LOG).
    void taken();

private:
    explicit BackgroundLaunch(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace tesvano
