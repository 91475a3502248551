#pragma once

// A PostgreSQL server of a test's own: Debian's server programs, a cluster made with initdb in
// a scratch folder, listening on a Unix socket there only, password logins (SCRAM). As root
// (CI), the cluster belongs to "nobody": the server refuses to run as root. Failures throw
// (a test that meets one fails).

#include <fcntl.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

extern char** environ;

namespace zembra::test {

class PgServer {
  public:
    static constexpr const char* kBin = "/usr/lib/postgresql/15/bin";
    static constexpr const char* kPassword = "s3cret-line-pw";

    PgServer() : dir_("pg") {
        ::chmod(dir_.path().c_str(), 0755);
        const std::string pwfile = dir_.Write("pw", std::string(kPassword) + "\n");
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            owner_ = nobody ? nobody->pw_uid : 65534;
            group_ = nobody ? nobody->pw_gid : 65534;
            std::filesystem::create_directories(Data());
            for (const std::string& path : {dir_.path(), Data(), pwfile})
                if (::chown(path.c_str(), owner_, group_) != 0)
                    throw std::runtime_error("cannot give " + path + " to nobody");
        }
        const int status = Wait(Spawn({std::string(kBin) + "/initdb", "-D", Data(), "-U", "zembra",
                                       "-E", "UTF8", "--locale=C", "--auth=scram-sha-256",
                                       "--pwfile=" + pwfile, "--no-sync", "--no-instructions"}));
        if (status != 0)
            throw std::runtime_error("initdb failed: " + ReadAll(dir_.File("server.log")));
        Start();
    }
    ~PgServer() { Stop(); }

    std::string Data() const { return dir_.File("data"); }
    // A connection string (password included); with another password or database on request.
    std::string Conninfo(const std::string& password = kPassword,
                         const std::string& dbname = "postgres") const {
        return "host=" + dir_.path() + " port=5432 dbname=" + dbname +
               " user=zembra password=" + password;
    }

    // Starts the server and waits until it takes connections.
    void Start() {
        if (pid_ > 0) return;
        pid_ = Spawn({std::string(kBin) + "/postgres", "-D", Data(), "-k", dir_.path(), "-p",
                      "5432", "-c", "listen_addresses=", "-c", "fsync=off", "-c",
                      "shared_buffers=16MB", "-c", "max_connections=30"});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (PQping(Conninfo().c_str()) != PQPING_OK) {
            if (std::chrono::steady_clock::now() > deadline)
                throw std::runtime_error("the server did not start: " +
                                         ReadAll(dir_.File("server.log")));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    // A fast shutdown (open transactions roll back).
    void Stop() { End(SIGINT); }
    // The server and every one of its processes killed (SIGKILL), as in a crash: the next
    // start recovers from the write-ahead log.
    void Kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGSTOP);  // no new children from here on
        const std::vector<pid_t> children = ChildrenOf(pid_);
        End(SIGKILL);
        for (pid_t child : children) ::kill(child, SIGKILL);
        for (pid_t child : children)  // each one gone (or a zombie: its memory is released)
            while (Alive(child)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    // One statement as the test's own client; the first value of the first row ("" without
    // one), or "ERROR ..." on an error.
    std::string Sql(const std::string& sql, const std::string& dbname = "postgres") const {
        PGconn* conn = PQconnectdb(Conninfo(kPassword, dbname).c_str());
        std::string value;
        if (PQstatus(conn) != CONNECTION_OK) {
            value = std::string("ERROR ") + PQerrorMessage(conn);
        } else {
            PGresult* result = PQexec(conn, sql.c_str());
            const ExecStatusType status = PQresultStatus(result);
            if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
                value = std::string("ERROR ") + PQresultErrorMessage(result);
            else if (PQntuples(result) > 0 && PQnfields(result) > 0)
                value = PQgetvalue(result, 0, 0);
            PQclear(result);
        }
        PQfinish(conn);
        return value;
    }

  private:
    // Runs a server program as the cluster's owner, its output appended to server.log.
    pid_t Spawn(std::vector<std::string> words) const {
        if (::geteuid() == 0)
            words.insert(words.begin(), {"/usr/bin/setpriv", "--reuid=" + std::to_string(owner_),
                                         "--regid=" + std::to_string(group_), "--clear-groups"});
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string log = dir_.File("server.log");
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0666);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) throw std::runtime_error("cannot start " + words.front());
        return pid;
    }
    static int Wait(pid_t pid) {
        int status = 0;
        if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void End(int signal) {
        if (pid_ <= 0) return;
        ::kill(pid_, signal);
        Wait(pid_);
        pid_ = -1;
    }
    // The server's processes (each one in a session of its own).
    static std::vector<pid_t> ChildrenOf(pid_t parent) {
        std::vector<pid_t> children;
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string name = entry.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            const std::string stat = ReadAll(entry.path() / "stat");
            const std::size_t close = stat.rfind(')');
            if (close == std::string::npos) continue;
            char state = 0;
            int ppid = 0;
            if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 &&
                ppid == parent)
                children.push_back(std::stoi(name));
        }
        return children;
    }
    static bool Alive(pid_t pid) {
        const std::string stat = ReadAll("/proc/" + std::to_string(pid) + "/stat");
        const std::size_t close = stat.rfind(')');
        return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
    }

    ScratchDir dir_;
    uid_t owner_ = 0;
    gid_t group_ = 0;
    pid_t pid_ = -1;
};

}  // namespace zembra::test
