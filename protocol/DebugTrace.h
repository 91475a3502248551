#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace zembra {

// Default name of the trace file offered by the hidden menu.
inline constexpr char DEFAULT_TRACE_FILE[] = "Debug.TXT";

enum class TraceEvent { Write, Receive };

// A file the trace must never empty, and what it is to the program.
struct GuardedFile {
    enum class Role { Image, Configuration, Records };
    Role role;
    std::string path;
};

// Whether fileName may be the trace file: only a regular file (which the trace deletes and
// writes anew) or a name where nothing is yet; never a device, a FIFO, a folder or
// other special file, and never one of the guarded files under any name (a records database
// with its journal files beside it, "-wal", "-shm" and "-journal", also while they are not there).
// Every front end asks this before it starts the trace.
struct TraceFileVerdict {
    enum class Kind { Usable, NotARegularFile, Guarded };
    Kind kind = Kind::Usable;
    const GuardedFile* clash = nullptr;  // Guarded: the file it is
    bool usable() const { return kind == Kind::Usable; }
};
TraceFileVerdict CheckTraceFile(const std::string& fileName,
                                const std::vector<GuardedFile>& guarded);

// The debug trace: one line per packet written to a port and per chunk received on the single
// port, appended to a text file that is opened and closed for every line (so the file is
// complete at every moment).
//
// Formats (count, [channel], NowMs truncated, NowMs - downloadStartMs truncated, hex dump):
//   single write, data on   "[W:%03d %08ld %08ld] %s"
//   single write, data off  "[W:%03d %08ld %08ld]"
//   single receive          "[R:%03d %08ld %08ld] %s"
//   multi write, data on    "[W:%03d C:%02d %08ld %08ld] %s"
//   multi write, data off   "[W:%03d C:%02d %08ld %08ld]"
// The hex dump is HexDump (at most the first 8,225 bytes).
//
// Threads: TraceLine may run on any thread (each engine's worker traces the packets it
// writes, the single port's receive thread or its reading worker traces answers); a lock
// keeps each line whole and the lines in the order they were traced. The options are
// changed from the main thread.
class DebugTrace {
  public:
    // The trace switched on once the operator confirmed a file: remembers the name, deletes
    // an existing file of that name (the trace starts empty) and switches the trace on.
    // False, with the trace off and nothing touched, when fileName is neither a regular file
    // nor a free name (see CheckTraceFile; callers check the guarded files first).
    bool Start(const std::string& fileName);
    // The box unticked: no further lines; the file stays as written.
    void Stop() { enabled_.store(false); }

    // Whether write lines carry their data bytes.
    void SetWriteData(bool on) { writeData_.store(on); }

    bool enabled() const { return enabled_.load(); }
    bool writeData() const { return writeData_.load(); }
    std::string fileName() const;

    // One trace point. channel < 0: the single port; 0..7: a multi port (write lines only).
    // downloadStartMs is the origin of the elapsed-time field. A file that cannot be opened
    // loses this line and nothing else.
    void TraceLine(TraceEvent kind, int channel, const std::uint8_t* bytes, std::size_t count,
                   double downloadStartMs) const;

    // The line text (without the line end), for the same arguments and a given clock value.
    static std::string FormatLine(TraceEvent kind, int channel, const std::uint8_t* bytes,
                                  std::size_t count, double nowMs, double downloadStartMs,
                                  bool writeData);

  private:
    std::atomic<bool> enabled_{false};
    std::atomic<bool> writeData_{false};
    mutable std::mutex mutex_;  // guards debugFileName_ and the file
    std::string debugFileName_;
};

}  // namespace zembra
