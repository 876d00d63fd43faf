// The maintainer's tool for signed releases:
//   tesvano-sign generate-key SECRET-FILE        writes a new secret key (mode 0600), prints
//                                                the public key to build into the program
//   tesvano-sign public-key SECRET-FILE          prints the public key of a secret key
//   tesvano-sign sign SECRET-FILE ARCHIVE        prints the archive's signature (Ed25519ph)
//   tesvano-sign verify PUBLIC-KEY ARCHIVE SIGNATURE
//   tesvano-sign add-to-feed FEED SECRET-FILE ARCHIVE VERSION URL [options]
//       --channel NAME  --notes MARKDOWN-FILE  --date RFC3339  --display-version TEXT
//       --architecture NAME (default: this machine's)
//     signs the archive and puts its item into the feed file (made when missing, else its
//     signature must be this key's; an item of the same version is replaced), newest first,
//     then signs the feed, stamped with its publication time (never earlier than the
//     previous feed's); the file is replaced atomically. URL must be https.
// As ssh does, a secret key is used only when it is this user's, readable by nobody else, and
// in folders that nobody else can change.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "Platform/Updater/Appcast.h"
#include "Platform/Updater/Signature.h"
#include "Platform/Updater/Version.h"

namespace {

using namespace tesvano::platform;
namespace fs = std::filesystem;

int usage() {
    std::fprintf(stderr,
                 "usage: tesvano-sign generate-key SECRET-FILE\n"
                 "       tesvano-sign public-key SECRET-FILE\n"
                 "       tesvano-sign sign SECRET-FILE ARCHIVE\n"
                 "       tesvano-sign verify PUBLIC-KEY ARCHIVE SIGNATURE\n"
                 "       tesvano-sign add-to-feed FEED SECRET-FILE ARCHIVE VERSION URL\n"
                 "           [--channel NAME] [--notes FILE] [--date RFC3339]\n"
                 "           [--display-version TEXT] [--architecture NAME]\n");
    return 2;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "tesvano-sign: %s\n", message.c_str());
    return 1;
}

std::optional<std::string> readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A new file that nobody else could have opened before: created here (never an existing file
// or a link planted under its name), mode 0600 from its first moment, every step checked.
std::expected<void, std::string> writeSecretFile(const fs::path& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return std::unexpected("cannot create " + path.string() + ": " + std::strerror(errno));
    }
    auto failed = [&](const char* step) {
        const std::string why = std::strerror(errno);
        ::close(fd);
        ::unlink(path.c_str());
        return std::unexpected("cannot " + std::string(step) + " " + path.string() + ": " + why);
    };
    if (::fchmod(fd, 0600) != 0) {
        return failed("protect");
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return failed("write");
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        return failed("write");
    }
    if (::close(fd) != 0) {
        const std::string why = std::strerror(errno);
        ::unlink(path.c_str());
        return std::unexpected("cannot write " + path.string() + ": " + why);
    }
    return {};
}

// Replaces `path` in one rename, through a fresh file of our own beside it.
std::expected<void, std::string> writeAtomically(const fs::path& path, const std::string& text,
                                                 mode_t mode) {
    const fs::path temporary = path.string() + ".tmp-" + std::to_string(::getpid());
    if (auto written = writeSecretFile(temporary, text); !written) {
        return written;
    }
    std::error_code ec;
    if (::chmod(temporary.c_str(), mode) != 0 || (fs::rename(temporary, path, ec), ec)) {
        fs::remove(temporary, ec);
        return std::unexpected("cannot replace " + path.string());
    }
    return {};
}

std::string octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Why the folders holding `file` (its real path) would let someone else swap it, if they do:
// one that belongs to another user (root aside), its own folder writable by others, or a
// folder further up writable by others without the sticky bit (as /tmp has).
std::optional<std::string> unsafeFolder(const fs::path& file) {
    const uid_t me = ::geteuid();
    bool own = true;
    for (fs::path folder = file.parent_path();; folder = folder.parent_path()) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0) {
            return "cannot examine " + folder.string() + ": " + std::strerror(errno);
        }
        if (info.st_uid != me && info.st_uid != 0) {
            return file.string() + " is in " + folder.string() +
                   ", which belongs to another user (uid " + std::to_string(info.st_uid) + ")";
        }
        const bool othersWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
        if (othersWrite && (own || (info.st_mode & S_ISVTX) == 0)) {
            return file.string() + " is in " + folder.string() + " (mode " + octal(info.st_mode) +
                   "), which others can write to; keep keys in a folder only you can change "
                   "(chmod go-w " +
                   folder.string() + ")";
        }
        own = false;
        if (folder == folder.parent_path()) {
            return std::nullopt;
        }
    }
}

// The key in `path`, or why it is not used.
std::expected<Ed25519SecretKey, std::string> readSecret(const fs::path& path) {
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    if (ec) {
        return std::unexpected("cannot read " + path.string() + ": " + ec.message());
    }
    const int fd = ::open(real.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return std::unexpected("cannot read " + path.string() + ": " + std::strerror(errno));
    }
    struct stat info {};
    std::string text;
    std::optional<std::string> refusal;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        refusal = path.string() + " is no regular file";
    } else if (info.st_uid != ::geteuid()) {
        refusal = path.string() + " belongs to another user (uid " + std::to_string(info.st_uid) +
                  "); use a key of your own";
    } else if ((info.st_mode & 077) != 0) {
        refusal = path.string() + " can be read or changed by others (mode " + octal(info.st_mode) +
                  "); a secret key must be yours alone: chmod 600 " + path.string();
    } else if (auto folder = unsafeFolder(real)) {
        refusal = *folder;
    } else {
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 || text.size() > 1024) {
                refusal = "cannot read " + path.string();
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    if (refusal) {
        return std::unexpected("refusing the secret key: " + *refusal);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    if (auto key = decodeSecretKey(text)) {
        return *key;
    }
    return std::unexpected(path.string() + " holds no secret key");
}

std::string publicOf(const Ed25519SecretKey& secret) {
    // The secret key's second half is its public key.
    return toBase64(std::span(secret).subspan(32));
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        return usage();
    }
    const std::string& command = args[0];
    if (command == "generate-key" && args.size() == 2) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(args[1], ec))) {
            return fail(args[1] + " exists; a key is never overwritten");
        }
        // It could not be used there.
        const fs::path target = fs::absolute(args[1], ec);
        const fs::path folder = fs::canonical(target.parent_path(), ec);
        if (auto unsafe = ec ? std::nullopt : unsafeFolder(folder / target.filename())) {
            return fail("refusing to make the secret key: " + *unsafe);
        }
        const auto pair = generateKeyPair();
        if (auto written = writeSecretFile(args[1], toBase64(pair.secretKey) + "\n"); !written) {
            return fail(written.error());
        }
        std::printf("%s\n", toBase64(pair.publicKey).c_str());
        return 0;
    }
    if (command == "public-key" && args.size() == 2) {
        const auto secret = readSecret(args[1]);
        if (!secret) {
            return fail(secret.error());
        }
        std::printf("%s\n", publicOf(*secret).c_str());
        return 0;
    }
    if (command == "sign" && args.size() == 3) {
        const auto secret = readSecret(args[1]);
        if (!secret) {
            return fail(secret.error());
        }
        const auto signature = signFile(args[2], *secret);
        if (!signature) {
            return fail(signature.error());
        }
        std::printf("%s\n", signature->c_str());
        return 0;
    }
    if (command == "verify" && args.size() == 4) {
        const auto key = decodePublicKey(args[1]);
        if (!key) {
            return fail("not a public key: " + args[1]);
        }
        if (!verifyFileSignature(args[2], args[3], *key)) {
            return fail("the signature does not match " + args[2]);
        }
        std::printf("good signature\n");
        return 0;
    }
    if (command == "add-to-feed" && args.size() >= 6) {
        std::map<std::string, std::string> options;
        for (std::size_t i = 6; i < args.size(); i += 2) {
            if (i + 1 >= args.size() || !args[i].starts_with("--")) {
                return usage();
            }
            options[args[i].substr(2)] = args[i + 1];
        }
        const fs::path feedPath = args[1];
        const auto secret = readSecret(args[2]);
        if (!secret) {
            return fail(secret.error());
        }
        const fs::path archive = args[3];
        AppcastItem item;
        item.version = args[4];
        item.displayVersion =
            options.contains("display-version") ? options["display-version"] : item.version;
        item.enclosure.url = args[5];
        if (!isSecureAddress(item.enclosure.url)) {
            return fail("the archive's address must be https: " + item.enclosure.url);
        }
        std::error_code ec;
        item.enclosure.length = fs::file_size(archive, ec);
        if (ec || item.enclosure.length == 0) {
            return fail("cannot read " + archive.string());
        }
        const auto signature = signFile(archive, *secret);
        if (!signature) {
            return fail(signature.error());
        }
        item.enclosure.edSignature = *signature;
        if (options.contains("channel")) {
            item.channel = options["channel"];
        }
        if (options.contains("notes")) {
            auto notes = readText(options["notes"]);
            if (!notes) {
                return fail("cannot read " + options["notes"]);
            }
            item.releaseNotes = *notes;
        }
        if (options.contains("date")) {
            item.date = parseRFC3339(options["date"]);
            if (!item.date) {
                return fail("not an RFC 3339 date: " + options["date"]);
            }
        }
        Appcast appcast;
        const auto publicKey = decodePublicKey(publicOf(*secret));
        if (fs::exists(feedPath)) {
            const auto text = readText(feedPath);
            if (!text) {
                return fail("cannot read " + feedPath.string());
            }
            const auto body = verifiedFeedBody(*text, *publicKey);
            if (!body) {
                return fail(feedPath.string() + ": " + body.error());
            }
            auto parsed = parseAppcast(*body);
            if (!parsed) {
                return fail(feedPath.string() + ": " + parsed.error());
            }
            appcast = std::move(*parsed);
        }
        if (options.contains("architecture")) {
            appcast.architecture = options["architecture"];
        } else if (appcast.architecture.empty()) {
            appcast.architecture = std::string(thisArchitecture());
        }
        // Readers refuse a feed older than one they have read: each is later than the last, even
        // with this clock set back.
        WallTime published(
            std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()));
        if (appcast.published && *appcast.published >= published) {
            published = std::chrono::floor<std::chrono::seconds>(*appcast.published) +
                        std::chrono::seconds(1);
        }
        appcast.published = published;
        std::erase_if(appcast.items, [&](const AppcastItem& existing) {
            return compareVersions(existing.version, item.version) == 0;
        });
        appcast.items.push_back(item);
        std::stable_sort(appcast.items.begin(), appcast.items.end(),
                         [](const AppcastItem& a, const AppcastItem& b) {
                             return isNewerVersion(a.version, b.version);
                         });
        const std::string text = signFeed(writeAppcast(appcast), *secret);
        const auto body = verifiedFeedBody(text, *publicKey);
        const auto check = body ? parseAppcast(*body) : std::unexpected(body.error());
        if (!check || check->items.size() != appcast.items.size()) {
            return fail("the written feed does not read back");
        }
        if (auto written = writeAtomically(feedPath, text, 0644); !written) {
            return fail(written.error());
        }
        std::printf("%s: %zu items\n", feedPath.c_str(), appcast.items.size());
        return 0;
    }
    return usage();
}
