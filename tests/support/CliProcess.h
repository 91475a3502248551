#pragma once
// zembra-cli started as a process: its standard error (and, unless stdoutPath is given, its
// standard output) in one file, the standard input from /dev/null, extra environment
// variables over the test's own. Killed and reaped when it goes out of scope.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zembra::test {

class CliProcess {
  public:
    CliProcess(const std::vector<std::string>& args, const std::string& outputPath,
               const std::string& stdoutPath = {},
               const std::map<std::string, std::string>& env = {})
        : output_(outputPath) {
        std::vector<std::string> words = {ZEMBRA_CLI_PATH};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        std::vector<std::string> variables;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (!env.count(entry.substr(0, entry.find('=')))) variables.push_back(entry);
        }
        for (const auto& [name, value] : env) variables.push_back(name + "=" + value);
        std::vector<char*> envp;
        for (auto& v : variables) envp.push_back(v.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        if (stdoutPath.empty())
            posix_spawn_file_actions_adddup2(&actions, 2, 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~CliProcess() {
        if (pid_ > 0) {
            Signal(SIGKILL);
            Wait();
        }
    }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    pid_t pid() const { return pid_; }
    void Signal(int signal) const { ::kill(pid_, signal); }
    void Interrupt() const { Signal(SIGINT); }
    int Wait() {
        if (pid_ <= 0) return -1;
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return StatusOf(status);
    }
    // The exit status, or -1 when the program had not ended by then (it is killed).
    int WaitFor(std::chrono::seconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return -1;  // killed by the destructor
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        pid_ = -1;
        return StatusOf(status);
    }
    std::string Output() const {
        std::ifstream in(output_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

  private:
    static int StatusOf(int status) {
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string output_;
    pid_t pid_ = -1;
};

}  // namespace zembra::test
