// Tar archives written member by member, the way tar programs lay them out, so that tests can
// hand the update reader what no release of ours would hold: deep names, odd kinds, declared
// sizes with no content, pax records.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace tesvano::test {

class TarBuilder {
public:
    // One header block; `size` is what the header declares, `content` what follows it (padded
    // to whole blocks). A declared size with no content is written as that many zeros, unless
    // `headerOnly`.
    TarBuilder& member(const std::string& name, char type, std::uint64_t size,
                       const std::string& content = "", const std::string& link = "",
                       unsigned mode = 0644, bool headerOnly = false) {
        std::string header(512, '\0');
        std::memcpy(header.data(), name.data(), std::min<std::size_t>(name.size(), 100));
        field(header, 100, 8, mode);
        field(header, 108, 8, 0);
        field(header, 116, 8, 0);
        field(header, 124, 12, size);
        field(header, 136, 12, 0);
        header[156] = type;
        std::memcpy(header.data() + 157, link.data(), std::min<std::size_t>(link.size(), 100));
        std::memcpy(header.data() + 257,
                    "ustar\0"
                    "00",
                    8);
        std::memset(header.data() + 148, ' ', 8);
        unsigned sum = 0;
        for (unsigned char c : header) {
            sum += c;
        }
        field(header, 148, 7, sum);
        header[155] = ' ';
        tar_ += header;
        if (headerOnly) {
            return *this;
        }
        const std::uint64_t body = content.empty() ? size : content.size();
        if (content.empty()) {
            zeros(body);
        } else {
            tar_ += content;
        }
        tar_.append((512 - body % 512) % 512, '\0');
        return *this;
    }
    TarBuilder& file(const std::string& name, const std::string& content) {
        return member(name, '0', content.size(), content);
    }
    TarBuilder& folder(const std::string& name, std::uint64_t declared = 0) {
        return member(name, '5', declared);
    }
    TarBuilder& link(const std::string& name, const std::string& target) {
        return member(name, '2', 0, "", target, 0777);
    }
    // A pax extended header for the next member.
    TarBuilder& pax(const std::string& key, const std::string& value, char type = 'x') {
        std::string record = " " + key + "=" + value + "\n";
        std::size_t length = record.size() + 1;
        while (std::to_string(length).size() + record.size() != length) {
            ++length;
        }
        const std::string data = std::to_string(length) + record;
        return member("PaxHeaders/x", type, data.size(), data);
    }
    // The two zero blocks that end an archive.
    TarBuilder& end() {
        tar_.append(1024, '\0');
        return *this;
    }
    // The uncompressed archive; only for archives without long runs of zeros.
    std::string tar() const {
        std::string whole;
        for (const auto& [bytes, zeros] : done_) {
            whole += bytes;
            whole.append(zeros, '\0');
        }
        return whole + tar_;
    }
    // Compressed piece by piece, so that gigabytes of declared zeros cost no memory.
    std::string gzip() const {
        z_stream stream{};
        deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
        std::string out;
        const std::string zero(1 << 20, '\0');
        auto feed = [&](const char* data, std::size_t size, int flush) {
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
            stream.avail_in = static_cast<uInt>(size);
            do {
                char chunk[1 << 16];
                stream.next_out = reinterpret_cast<Bytef*>(chunk);
                stream.avail_out = sizeof chunk;
                deflate(&stream, flush);
                out.append(chunk, sizeof chunk - stream.avail_out);
            } while (stream.avail_out == 0);
        };
        for (const auto& [bytes, zeros] : done_) {
            feed(bytes.data(), bytes.size(), Z_NO_FLUSH);
            for (std::uint64_t left = zeros; left > 0;) {
                const auto piece = std::min<std::uint64_t>(left, zero.size());
                feed(zero.data(), piece, Z_NO_FLUSH);
                left -= piece;
            }
        }
        feed(tar_.data(), tar_.size(), Z_FINISH);
        deflateEnd(&stream);
        return out;
    }
    static std::string compress(const std::string& data) {
        TarBuilder raw;
        raw.tar_ = data;
        return raw.gzip();
    }

private:
    static void field(std::string& header, std::size_t at, std::size_t width, std::uint64_t value) {
        for (std::size_t i = width - 1; i-- > 0; value >>= 3) {
            header[at + i] = static_cast<char>('0' + (value & 7));
        }
        header[at + width - 1] = '\0';
    }

    void zeros(std::uint64_t count) {
        if (count < (1u << 20)) {
            tar_.append(count, '\0');
            return;
        }
        done_.emplace_back(std::move(tar_), count);
        tar_.clear();
    }

    std::vector<std::pair<std::string, std::uint64_t>> done_;  // bytes, then that many zeros
    std::string tar_;
};

}  // namespace tesvano::test
