// The tools around updates run as their users run them: the per-user installer of a release
// in odd home folders, and the signing tool's key file in a folder others can write.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace tesvano::test {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs a program with `environment` added to ours; its exit status and what it printed.
std::pair<int, std::string> runProgram(const std::vector<std::string>& words,
                                       const std::vector<std::string>& environment = {}) {
    int out[2];
    if (::pipe(out) != 0) {
        return {-1, "no pipe"};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        ::close(out[0]);
        for (const auto& setting : environment) {
            const auto equals = setting.find('=');
            ::setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
        }
        std::vector<char*> argv;
        for (const auto& word : words) {
            argv.push_back(const_cast<char*>(word.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
        output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// The program of an Exec line as a desktop environment reads it: the string escapes first,
// then the quoting of the first argument.
std::string execProgram(const std::string& entry) {
    const auto at = entry.find("\nExec=");
    std::string value = entry.substr(at + 6, entry.find('\n', at + 1) - at - 6);
    std::string unescaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            unescaped += next == 's' ? ' ' : next == 'n' ? '\n' : next;
        } else {
            unescaped += value[i];
        }
    }
    std::string program;
    if (unescaped.empty() || unescaped[0] != '"') {
        return unescaped.substr(0, unescaped.find(' '));
    }
    for (std::size_t i = 1; i < unescaped.size() && unescaped[i] != '"'; ++i) {
        if (unescaped[i] == '\\' && i + 1 < unescaped.size()) {
            ++i;
        }
        program += unescaped[i];
    }
    // "%%" is a literal percent sign.
    for (std::size_t at2 = 0; (at2 = program.find("%%", at2)) != std::string::npos; ++at2) {
        program.erase(at2, 1);
    }
    return program;
}

// An unpacked release in <home>/.local/opt/tesvano/<folder>, as its archive holds it.
fs::path unpackRelease(const fs::path& home, const std::string& folder) {
    const fs::path release = home / ".local" / "opt" / "tesvano" / folder;
    fs::create_directories(release / "bin");
    fs::create_directories(release / "share" / "applications");
    fs::create_directories(release / "share" / "tesvano");
    // Notes what it was started with, where the test says.
    std::ofstream(release / "bin" / "tesvano") << "#!/bin/sh\necho \"$@\" >> \"$OPENED\"\n";
    fs::permissions(release / "bin" / "tesvano", fs::perms::owner_all);
    std::string entry = readAll(TESVANO_DESKTOP_TEMPLATE);
    entry.replace(entry.find("@TESVANO_DESKTOP_EXEC@"), 22, "tesvano");
    std::ofstream(release / "share" / "applications" / "tesvano.desktop") << entry;
    fs::copy_file(TESVANO_INSTALL_USER, release / "share" / "tesvano" / "install-user");
    return release;
}

std::vector<std::string> homeEnvironment(const fs::path& home) {
    return {"HOME=" + home.string(), "XDG_DATA_HOME=" + (home / ".local/share").string(),
            "XDG_CONFIG_HOME=" + (home / ".config").string()};
}

TEST(InstallUser, InstallsIntoHomeFoldersWithAnyNameAndEveryOpenerStartsIt) {
    TempDir dir;
    int homes = 0;
    for (const char* name :
         {"plain", "with space & and | bar", "quote \" dollar $x back\\slash %u", "tab\there"}) {
        SCOPED_TRACE(name);
        const fs::path home = dir.path() / name;
        const fs::path release = unpackRelease(home, "tesvano-1.2.0");
        auto environment = homeEnvironment(home);
        // xdg-open's own search splits its data folders at blanks: the entry goes to a plain
        // one, the program stays in the odd home. ~/.local/bin is on PATH as a login puts it
        // there (Debian's ~/.profile). No desktop is named, so xdg-open reads the entry itself;
        // a browser must not stand in when it finds none.
        const fs::path data = dir.path() / ("data-" + std::to_string(homes++));
        environment.insert(environment.end(),
                           {"XDG_DATA_HOME=" + data.string(),
                            "PATH=" + (home / ".local/bin").string() + ":/usr/bin:/bin",
                            "OPENED=" + (dir.path() / "opened").string(), "XDG_CURRENT_DESKTOP=",
                            "DE=", "DESKTOP_SESSION=", "KDE_FULL_SESSION=", "BROWSER=false",
                            "QT_QPA_PLATFORM=offscreen"});
        const auto [status, output] =
            runProgram({"/bin/sh", (release / "share/tesvano/install-user").string()}, environment);
        ASSERT_EQ(status, 0) << output;
        const fs::path root = home / ".local" / "opt" / "tesvano";
        EXPECT_EQ(fs::read_symlink(root / "current"), "1.2.0");
        EXPECT_EQ(readAll(root / ".tesvano-installation"), "1.2.0\n");
        const fs::path entryFile = data / "applications/tesvano.desktop";
        const std::string program = execProgram(readAll(entryFile));
        EXPECT_EQ(fs::canonical(program.starts_with('/') ? fs::path(program)
                                                         : home / ".local/bin" / program),
                  fs::canonical(root / "current" / "bin" / "tesvano"));
        const auto [valid, complaint] =
            runProgram({"/usr/bin/desktop-file-validate", entryFile.string()});
        EXPECT_EQ(valid, 0) << complaint;
        for (const std::vector<std::string>& opener :
             {std::vector<std::string>{"/usr/bin/xdg-open", "tesvano://status"},
              {"/usr/bin/gio", "open", "tesvano://status"},
              {"/usr/bin/kioclient5", "exec", "tesvano://status"}}) {
            SCOPED_TRACE(opener[0]);
            fs::remove(dir.path() / "opened");
            const auto [opened, said] = runProgram(opener, environment);
            EXPECT_EQ(opened, 0) << said;
            // gio and kioclient5 start it and return; it says when it ran.
            waitUntil(
                every(std::chrono::milliseconds(10)),
                [&] { return !readAll(dir.path() / "opened").empty(); }, std::chrono::seconds(20));
            EXPECT_EQ(readAll(dir.path() / "opened"), "tesvano://status\n");
        }
    }
}

TEST(InstallUser, RefusesAFolderThatNamesNoVersionAndTouchesNothing) {
    TempDir dir;
    const fs::path home = dir.path() / "home";
    const fs::path root = home / ".local" / "opt" / "tesvano";
    unpackRelease(home, "tesvano-1.0");
    ASSERT_EQ(runProgram({"/bin/sh", (root / "tesvano-1.0/share/tesvano/install-user").string()},
                         homeEnvironment(home))
                  .first,
              0);
    for (const char* folder : {"tesvano-", "tesvano-current", "tesvano-.hidden", "tesvano-a b"}) {
        SCOPED_TRACE(folder);
        const fs::path release = unpackRelease(home, folder);
        const auto [status, output] = runProgram(
            {"/bin/sh", (release / "share/tesvano/install-user").string()}, homeEnvironment(home));
        EXPECT_NE(status, 0) << output;
        EXPECT_TRUE(fs::exists(root / "1.0" / "bin" / "tesvano"));
        EXPECT_EQ(fs::read_symlink(root / "current"), "1.0");
        fs::remove_all(release);
    }
}

TEST(SigningTool, TheSecretKeyGoesOnlyIntoAFileItCreatedItself) {
    TempDir dir;
    const fs::path key = dir.path() / "release.key";
    // Planted beside the key by someone else where the folder is shared.
    std::ofstream(key.string() + ".tmp") << "planted";
    ::chmod((key.string() + ".tmp").c_str(), 0666);
    const auto [status, output] = runProgram({TESVANO_SIGN_TOOL, "generate-key", key.string()});
    ASSERT_EQ(status, 0) << output;
    EXPECT_EQ(readAll(key.string() + ".tmp"), "planted");
    struct stat info {};
    ASSERT_EQ(::lstat(key.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    struct Case {
        const char* name;
        fs::path key;
    };
    const fs::path planted = dir.path() / "link.key";
    fs::create_symlink(dir.path() / "elsewhere", planted);
    for (const Case& c : {Case{"an existing key", key}, Case{"a planted link", planted}}) {
        SCOPED_TRACE(c.name);
        const std::string before = readAll(c.key);
        EXPECT_NE(runProgram({TESVANO_SIGN_TOOL, "generate-key", c.key.string()}).first, 0);
        EXPECT_EQ(readAll(c.key), before);
        EXPECT_FALSE(fs::exists(dir.path() / "elsewhere"));
    }
}

TEST(SigningTool, RefusesASecretKeyOthersCouldReadOrSwapAsSshDoes) {
    TempDir dir;
    const fs::path folder = dir.path() / "keys";
    const fs::path key = folder / "release.key";
    fs::create_directory(folder);
    ASSERT_EQ(runProgram({TESVANO_SIGN_TOOL, "generate-key", key.string()}).first, 0);
    const bool root = ::geteuid() == 0;  // only root can give a file away
    const struct {
        const char* name;
        mode_t keyMode, folderMode;
        uid_t owner;
        const char* says;  // empty: the key is used
    } cases[] = {
        {"as made", 0600, 0755, ::geteuid(), ""},
        {"readable by others", 0644, 0755, ::geteuid(), "chmod 600"},
        {"readable by the group", 0640, 0755, ::geteuid(), "chmod 600"},
        {"in a folder others can write to", 0600, 0777, ::geteuid(), "others can write to"},
        {"in a shared folder with the sticky bit", 0600, 01777, ::geteuid(), "others can write"},
        {"another user's", 0600, 0755, root ? 65534 : ::geteuid(), root ? "another user" : ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::chmod(key.c_str(), c.keyMode);
        ::chmod(folder.c_str(), c.folderMode);
        ASSERT_EQ(::chown(key.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
        for (const auto& words :
             {std::vector<std::string>{TESVANO_SIGN_TOOL, "public-key", key.string()},
              std::vector<std::string>{TESVANO_SIGN_TOOL, "sign", key.string(), key.string()}}) {
            const auto [status, output] = runProgram(words);
            EXPECT_EQ(status != 0, *c.says != '\0') << words[1] << ": " << output;
            EXPECT_NE(output.find(c.says), std::string::npos) << output;
        }
        ::chown(key.c_str(), ::geteuid(), static_cast<gid_t>(-1));
    }
    // Nor is a key made where it could not be used.
    ::chmod(folder.c_str(), 0777);
    EXPECT_NE(runProgram({TESVANO_SIGN_TOOL, "generate-key", (folder / "new.key").string()}).first,
              0);
    EXPECT_FALSE(fs::exists(folder / "new.key"));
}

}  // namespace
}  // namespace tesvano::test
