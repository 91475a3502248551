#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace zembra::test {

// A pseudo-terminal pair: the test plays the far side on the master; the port opens the
// slave by its path.
class PtyPair {
  public:
    PtyPair() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const char* name = ptsname(master_);
        if (name) slavePath_ = name;
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return master_ >= 0 && !slavePath_.empty(); }
    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

    void CloseMaster() {
        if (master_ >= 0) close(master_);
        master_ = -1;
    }

    // Writes everything (blocking master).
    bool WriteAll(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        while (size > 0) {
            ssize_t n = write(master_, p, size);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            p += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    bool WriteAll(const std::string& text) { return WriteAll(text.data(), text.size()); }

    // Reads until size bytes arrived or timeoutMs passed.
    std::vector<uint8_t> ReadSome(size_t size, int timeoutMs = 2000) {
        std::vector<uint8_t> out;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < size) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            uint8_t buf[4096];
            ssize_t n = read(master_, buf, std::min(sizeof buf, size - out.size()));
            if (n <= 0) break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

  private:
    int master_ = -1;
    std::string slavePath_;
};

// CPU time (user + system, in clock ticks) that one thread of this process has used.
inline long ThreadCpuTicks(int tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    // Fields after the command: state(3) ... utime(14) stime(15).
    std::vector<std::string> fields;
    size_t pos = close + 2;
    while (pos < stat.size()) {
        size_t end = stat.find(' ', pos);
        if (end == std::string::npos) end = stat.size();
        fields.push_back(stat.substr(pos, end - pos));
        pos = end + 1;
    }
    if (fields.size() < 13) return -1;
    return std::stol(fields[11]) + std::stol(fields[12]);
}

}  // namespace zembra::test
