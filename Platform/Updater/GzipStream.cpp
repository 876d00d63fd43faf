#include "Platform/Updater/GzipStream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "Platform/Updater/Archive.h"

namespace tesvano::platform {

namespace {

using Failure = std::unexpected<std::string>;

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

GzipStream::~GzipStream() {
    if (initialised_) {
        ::inflateEnd(&stream_);
    }
}

GzipStream::Outcome GzipStream::open() {
    std::array<unsigned char, 2> magic{};
    const ssize_t n = ::pread(fd_, magic.data(), magic.size(), 0);
    if (n < 0) {
        return Failure(systemError("cannot read the archive"));
    }
    if (n < 2 || magic[0] != 0x1f || magic[1] != 0x8b) {
        return Failure(std::string("the archive is not compressed with gzip"));
    }
    if (::inflateInit2(&stream_, 16 + MAX_WBITS) != Z_OK) {
        return Failure(std::string("cannot start decompressing the archive"));
    }
    initialised_ = true;
    return {};
}

GzipStream::Outcome GzipStream::tooLarge() const {
    return Failure("the archive unpacks to more than " + byteAmount(limit_) + " with its headers");
}

GzipStream::Outcome GzipStream::inflateSome(char* into, std::size_t size, std::size_t& got) {
    got = 0;
    if (stream_.avail_in == 0) {
        if (auto filled = fill(); !filled) {
            return filled;
        }
        if (stream_.avail_in == 0) {
            return Failure(std::string("the archive is cut short"));
        }
    }
    stream_.next_out = reinterpret_cast<Bytef*>(into);
    stream_.avail_out = static_cast<uInt>(std::min<std::size_t>(size, 1u << 20));
    const uInt asked = stream_.avail_out;
    const int status = ::inflate(&stream_, Z_NO_FLUSH);
    got = asked - stream_.avail_out;
    produced_ += got;
    if (status == Z_STREAM_END) {
        return nextMember();
    }
    if (status != Z_OK && status != Z_BUF_ERROR) {
        return Failure(std::string("the archive is damaged: ") +
                       (stream_.msg != nullptr ? stream_.msg : "cannot decompress it"));
    }
    return {};
}

GzipStream::Outcome GzipStream::read(char* into, std::size_t size) {
    if (size > limit_ - std::min(limit_, produced_)) {
        return tooLarge();
    }
    while (size > 0) {
        if (ended_) {
            return Failure(std::string("the archive ends too early"));
        }
        // Millions of empty members would keep this loop going without a byte handed out.
        if (isCancelled()) {
            return Failure(std::string("cancelled"));
        }
        std::size_t got = 0;
        if (auto inflated = inflateSome(into, size, got); !inflated) {
            return inflated;
        }
        into += got;
        size -= got;
    }
    return {};
}

GzipStream::Outcome GzipStream::finish() {
    std::vector<char> rest(256 * 1024);
    while (!ended_) {
        if (isCancelled()) {
            return Failure(std::string("cancelled"));
        }
        std::size_t got = 0;
        if (auto inflated = inflateSome(rest.data(), rest.size(), got); !inflated) {
            return inflated;
        }
        if (produced_ > limit_) {
            return tooLarge();
        }
        if (std::any_of(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(got),
                        [](char c) { return c != '\0'; })) {
            return Failure(std::string("the archive holds data after its end"));
        }
    }
    return {};
}

// More of the file after what still waits in the buffer.
GzipStream::Outcome GzipStream::fill() {
    const std::size_t kept = stream_.avail_in;
    if (kept > 0) {
        std::memmove(buffer_.data(), stream_.next_in, kept);
    }
    stream_.next_in = buffer_.data();
    for (;;) {
        const ssize_t n =
            ::pread(fd_, buffer_.data() + kept, buffer_.size() - kept, static_cast<off_t>(at_));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return Failure(systemError("cannot read the archive"));
        }
        at_ += static_cast<std::uint64_t>(n);
        stream_.avail_in = static_cast<uInt>(kept + static_cast<std::size_t>(n));
        return {};
    }
}

// A gzip stream ended, its length and check sum matched: another may follow, nothing else.
GzipStream::Outcome GzipStream::nextMember() {
    if (stream_.avail_in < 2) {
        if (auto filled = fill(); !filled) {
            return filled;
        }
    }
    if (stream_.avail_in == 0) {
        ended_ = true;
        return {};
    }
    if (stream_.avail_in < 2 || stream_.next_in[0] != 0x1f || stream_.next_in[1] != 0x8b) {
        return Failure(std::string("the archive has data after its gzip stream"));
    }
    ::inflateReset(&stream_);
    return {};
}

}  // namespace tesvano::platform
