// The real programs with nothing set in the environment, as under cron or a service: the
// port aliases and the serial-device map live in /tmp/zembra-<uid>, which another account
// could make first. The test plays both accounts (it needs root to do so).
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/serial/PtyHelpers.h"

namespace zembra::e2e {
namespace {

// A program run as another account, with a bare environment; its output (stdout and stderr)
// is read through a pipe.
class AccountProgram {
  public:
    AccountProgram(uid_t uid, const std::vector<std::string>& args) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        char path[] = "PATH=/usr/bin:/bin";
        char home[] = "HOME=/nonexistent";
        char* envp[] = {path, home, nullptr};
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], 1);
            ::dup2(fds[1], 2);
            if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)
                ::_exit(120);
            ::execve(argv[0], argv.data(), envp);
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~AccountProgram() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        if (out_ >= 0) ::close(out_);
    }

    // Output up to the first line end (or everything, if the program ends first).
    std::string Line() {
        while (output_.find('\n') == std::string::npos && ReadMore()) {
        }
        const std::size_t end = output_.find('\n');
        std::string line = output_.substr(0, end);
        output_.erase(0, end == std::string::npos ? end : end + 1);
        return line;
    }
    // Exit status after the program ended; its whole output is then in output().
    int Wait() {
        while (ReadMore()) {
        }
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Signal(int signal) const { ::kill(pid_, signal); }
    const std::string& output() const { return output_; }

  private:
    bool ReadMore() {
        char buffer[4096];
        const ssize_t n = out_ >= 0 ? ::read(out_, buffer, sizeof buffer) : 0;
        if (n <= 0) return false;
        output_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};

// An account number without a folder in /tmp yet; the folder goes with the object.
class UnusedAccount {
  public:
    UnusedAccount() {
        for (uid = 61000 + static_cast<uid_t>(::getpid() % 2000);
             std::filesystem::exists(Folder()) || std::filesystem::is_symlink(Folder()); ++uid) {
        }
    }
    ~UnusedAccount() {
        std::error_code ec;
        std::filesystem::remove_all(Folder(), ec);
    }
    std::string Folder() const { return "/tmp/zembra-" + std::to_string(uid); }
    uid_t uid;
};

TEST(RuntimeFolder, AnotherAccountsFolderIsRefusedAndOurOwnIsMadePrivate) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as two accounts needs root";
    UnusedAccount user;
    ImageFiles files;
    ASSERT_EQ(::chmod(files.path().c_str(), 0755), 0);
    const std::string code = files.Write("code.bin", CodeImage(0x10000, 0x0101, 0x1000, 71));
    ASSERT_EQ(::chmod(code.c_str(), 0644), 0);
    const std::vector<std::string> download = {ZEMBRA_CLI_PATH,   "--code", code,    "--no-records",
                                               "--startup-delay", "10",     "--port"};
    auto downloadTo = [&](const std::string& port) {
        std::vector<std::string> args = download;
        args.push_back(port);
        return args;
    };

    // Another account (root, standing in for any other) makes the folder first: COM70 and
    // the map's phone lead to a pseudo-terminal of its own, which anybody may open.
    test::PtyPair theirs;
    ASSERT_TRUE(theirs.Ok());
    ASSERT_EQ(::chmod(theirs.SlavePath().c_str(), 0666), 0);
    std::filesystem::create_directories(user.Folder() + "/ports");
    std::filesystem::create_directories(user.Folder() + "/serialcomm");
    ASSERT_EQ(::symlink(theirs.SlavePath().c_str(), (user.Folder() + "/ports/COM70").c_str()), 0);
    { std::ofstream(user.Folder() + "/serialcomm/%5CDevice%5Ctrelvic5") << "COM70\n"; }

    AccountProgram named(user.uid, downloadTo("COM70"));
    EXPECT_EQ(named.Wait(), EXIT_PORT_OPEN) << named.output();
    const std::string refusal = "refusing the folder " + user.Folder() +
                                ": it belongs to another account (uid 0, this is uid " +
                                std::to_string(user.uid) + ")";
    EXPECT_NE(named.output().find("COM70, " + refusal), std::string::npos) << named.output();
    AccountProgram automatic(user.uid, downloadTo("auto"));
    EXPECT_EQ(automatic.Wait(), EXIT_PORT_OPEN) << automatic.output();
    EXPECT_NE(automatic.output().find(refusal), std::string::npos) << automatic.output();
    EXPECT_TRUE(theirs.ReadSome(1, 100).empty());  // not a byte of the user's reached them

    AccountProgram phone(user.uid, {ZEMBRA_PHONE_SIM_PATH, "--port", "COM71"});
    EXPECT_EQ(phone.Wait(), 1);
    EXPECT_NE(phone.output().find(refusal), std::string::npos) << phone.output();
    EXPECT_FALSE(std::filesystem::is_symlink(user.Folder() + "/ports/COM71"));

    // Without it, the programs make the folder themselves, private, and use it.
    std::filesystem::remove_all(user.Folder());
    AccountProgram ours(user.uid, {ZEMBRA_PHONE_SIM_PATH, "--port", "COM70", "--sessions", "1"});
    EXPECT_EQ(ours.Line().rfind("COM70 /dev/pts/", 0), 0u) << ours.output();
    struct stat st {};
    ASSERT_EQ(::lstat(user.Folder().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, user.uid);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    AccountProgram flashed(user.uid, downloadTo("auto"));
    EXPECT_EQ(flashed.Wait(), EXIT_OK) << flashed.output();
    EXPECT_EQ(ours.Wait(), 0) << ours.output();
}

}  // namespace
}  // namespace zembra::e2e
