#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace zembra {

// Where the sender reads and where it sends.
struct LineSenderConfig {
    std::string localPath;                       // the station's records database
    std::string server;                          // the line server's connection string
    int batchSize = 500;                         // records per server transaction
    std::chrono::milliseconds idlePoll{1000};    // look for new records this often
    std::chrono::milliseconds firstRetry{500};   // first wait after a failure, doubled ...
    std::chrono::milliseconds lastRetry{10000};  // ... up to this
};

// What the sender has seen last.
struct LineSenderStatus {
    std::int64_t waiting = -1;  // records not yet acknowledged by the server (-1: not known yet)
    std::int64_t sent = 0;      // records this sender has had committed
    std::string error;          // the last attempt's failure; empty once an attempt worked
};

// Store and forward: a thread of its own pushes every record of the local database that the
// server has not acknowledged, oldest first, in batches of one server transaction each, and
// marks them sent after the commit (LineOutbox). An unreachable server, a refused login or a
// server that goes away mid-batch is retried after a growing wait; the downloads never wait
// for it: they only write the local database, which the sender reads on its own connection.
//
// Threads: Start, Stop, Wake and Status from any one owner thread; the sending thread lives
// from Start to Stop (or the destructor), which end it within a tenth of a second also when
// the server does not answer (an unfinished batch rolls back and is sent again later).
class LineSender {
  public:
    explicit LineSender(LineSenderConfig config);
    ~LineSender();
    LineSender(const LineSender&) = delete;
    LineSender& operator=(const LineSender&) = delete;

    void Start();
    void Stop();
    // A record was written: look now rather than at the next poll.
    void Wake();
    LineSenderStatus Status() const;

    // The server as messages name it (no password).
    const std::string& server() const { return description_; }

  private:
    void Run();
    void Publish(std::int64_t waiting, std::int64_t sent, const std::string& error);
    bool Stopping() const;

    LineSenderConfig config_;
    std::string description_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool woken_ = false;
    LineSenderStatus status_;
    std::thread thread_;
};

// One pass on the calling thread: sends every record waiting, then returns what is left
// and the error that stopped it (zembra-cli records --send).
LineSenderStatus SendWaitingRecords(const LineSenderConfig& config);

// One console line for a status: "line server user@host/db: 3 records waiting" or, with an
// error, "... waiting (retrying: <error>)".
std::string LineStatusText(const std::string& server, const LineSenderStatus& status);

}  // namespace zembra
