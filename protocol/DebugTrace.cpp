#include "protocol/DebugTrace.h"

#include <cstdio>

#include "platform/Helpers.h"

namespace zembra {

namespace {

// True when both paths name one entry of one folder, whether it exists or not.
bool SameName(const std::string& a, const std::string& b) {
    if (LocalFileName(a) != LocalFileName(b)) return false;
    const auto folder = [](const std::string& path) {
        const std::string parent = ParentFolder(path);
        return parent.empty() ? std::string(path.rfind('/', 0) == 0 ? "/" : ".") : parent;
    };
    FileVersion fa, fb;
    return FileVersionAt(folder(a), fa) && FileVersionAt(folder(b), fb) && fa.device == fb.device &&
           fa.fileNumber == fb.fileNumber;
}

// The files that are part of a guarded file: a records database goes with its journal
// files beside it (written by any connection while others read them).
std::vector<std::string> PartsOf(const GuardedFile& file) {
    if (file.role != GuardedFile::Role::Records) return {file.path};
    return {file.path, file.path + "-wal", file.path + "-shm", file.path + "-journal"};
}

}  // namespace

TraceFileVerdict CheckTraceFile(const std::string& fileName,
                                const std::vector<GuardedFile>& guarded) {
    TraceFileVerdict verdict;
    const PathKind kind = PathKindOf(fileName);
    if (kind == PathKind::Other) {
        verdict.kind = TraceFileVerdict::Kind::NotARegularFile;
        return verdict;
    }
    for (const GuardedFile& file : guarded) {
        if (file.path.empty()) continue;
        for (const std::string& part : PartsOf(file)) {
            // A part that is not there yet may be made while the trace runs.
            if (kind == PathKind::Regular ? !SameRegularFile(fileName, part)
                                          : !SameName(fileName, part))
                continue;
            verdict.kind = TraceFileVerdict::Kind::Guarded;
            verdict.clash = &file;
            return verdict;
        }
    }
    return verdict;
}

bool DebugTrace::Start(const std::string& fileName) {
    std::lock_guard<std::mutex> lock(mutex_);
    enabled_.store(false);
    if (!CheckTraceFile(fileName, {}).usable()) return false;
    debugFileName_ = fileName;
    std::remove(fileName.c_str());  // a regular file or nothing: the first line creates it
    enabled_.store(true);
    return true;
}

std::string DebugTrace::fileName() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return debugFileName_;
}

std::string DebugTrace::FormatLine(TraceEvent kind, int channel, const std::uint8_t* bytes,
                                   std::size_t count, double nowMs, double downloadStartMs,
                                   bool writeData) {
    const long now = static_cast<long>(nowMs);
    const long elapsed = static_cast<long>(nowMs - downloadStartMs);
    const int n = static_cast<int>(count);
    if (kind == TraceEvent::Receive)
        return FormatText("[R:%03d %08ld %08ld] ", n, now, elapsed) + HexDump(bytes, count);
    std::string line = channel >= 0
                           ? FormatText("[W:%03d C:%02d %08ld %08ld]", n, channel, now, elapsed)
                           : FormatText("[W:%03d %08ld %08ld]", n, now, elapsed);
    if (writeData) line += " " + HexDump(bytes, count);
    return line;
}

void DebugTrace::TraceLine(TraceEvent kind, int channel, const std::uint8_t* bytes,
                           std::size_t count, double downloadStartMs) const {
    if (!enabled_.load()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    std::FILE* file = std::fopen(debugFileName_.c_str(), "ab");
    if (file == nullptr) return;  // this line is lost; the packet still goes out
    std::string line =
        FormatLine(kind, channel, bytes, count, NowMs(), downloadStartMs, writeData_.load());
    // A Windows text file (CR LF), like the configuration file, so that files written on
    // either system read the same.
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
}

}  // namespace zembra
