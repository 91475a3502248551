// Receive path of the serial port component over a pseudo-terminal pair:
//  - latency from a write on the far side to the OnRxBuf call on the main thread,
//  - round trip of a worker that writes through the main thread and waits for the answer,
//  - receive throughput,
//  - CPU time and wake-ups of the receive thread while the line is quiet.
// Usage: serial_bench [--samples N] [--megabytes N] [--quiet-seconds N]

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/LoopMainThread.h"
#include "serial/Vabuffer.h"
#include "serial/Vacomm.h"

using namespace zembra;
using Clock = std::chrono::steady_clock;

namespace {

void WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            std::perror("write");
            std::exit(1);
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

// CPU nanoseconds and voluntary context switches (wake-ups) of one thread of this process.
struct ThreadUsage {
    long long cpuNs = -1;
    long long wakeups = -1;
};

ThreadUsage UsageOf(int tid) {
    ThreadUsage u;
    const std::string base = "/proc/self/task/" + std::to_string(tid);
    std::ifstream sched(base + "/schedstat");
    sched >> u.cpuNs;
    std::ifstream status(base + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            u.wakeups = std::atoll(line.c_str() + std::strlen("voluntary_ctxt_switches:"));
    }
    return u;
}

}  // namespace

int main(int argc, char** argv) {
    int samples = 2000;
    int megabytes = 32;
    int quietSeconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (key == "--samples") samples = value;
        if (key == "--megabytes") megabytes = value;
        if (key == "--quiet-seconds") quietSeconds = value;
    }
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("posix_openpt");
        return 1;
    }
    const std::string slavePath = ptsname(master);

    LoopMainThread loop;
    SetProcessMainThread(&loop);
    TVaComm port;
    TVaBuffer buffer;  // attached as in the main window: fills up, then refuses chunks
    buffer.SetComm(&port);
    port.SetDeviceName(slavePath);
    port.SetFlowControl(fcNone);
    port.SetBaudrate(br256000);
    port.SetPriority(tpHighest);

    std::atomic<long long> receivedBytes{0};
    std::atomic<long long> lastRxNs{0};
    long long calls = 0;
    const auto counting = [&](TVaComponent*, PVaData, int count) {
        lastRxNs.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
        receivedBytes.fetch_add(count, std::memory_order_release);
        ++calls;
    };
    port.OnRxBuf = counting;
    port.Open();
    std::printf("serial_bench: pseudo-terminal %s, receive thread %d\n", slavePath.c_str(),
                port.ReceiveThreadId());

    // 1. Far-side write -> OnRxBuf on the main thread.
    std::vector<double> latencyUs;
    {
        std::atomic<bool> stop{false};
        std::thread farSide([&] {
            const uint8_t packet[16] = {0x7E, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0x7E};
            for (int i = 0; i < samples; ++i) {
                const long long before = receivedBytes.load(std::memory_order_acquire);
                const auto t0 = Clock::now();
                WriteAll(master, packet, sizeof packet);
                while (receivedBytes.load(std::memory_order_acquire) < before + 16)
                    std::this_thread::yield();
                const auto t1 = Clock::time_point(Clock::duration(lastRxNs.load()));
                latencyUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
            }
            stop = true;
            loop.Wake();
        });
        loop.RunUntil([&] { return stop.load(); }, std::chrono::minutes(5));
        farSide.join();
    }
    std::printf(
        "latency far-side write -> OnRxBuf (16-byte packet, %d samples): median %.1f us, "
        "p90 %.1f us, p99 %.1f us\n",
        samples, Percentile(latencyUs, 0.5), Percentile(latencyUs, 0.9),
        Percentile(latencyUs, 0.99));

    // 2. A worker's round trip: write through the main thread, the far side answers, the
    //    receive handler sets the flag the worker polls (here: waits on without sleeping).
    std::vector<double> roundTripUs;
    {
        std::atomic<bool> stop{false};
        std::atomic<bool> responseArrived{false};
        port.OnRxBuf = [&](TVaComponent*, PVaData, int) {
            responseArrived.store(true, std::memory_order_release);
        };
        std::thread echo([&] {
            uint8_t buf[256];
            while (!stop) {
                pollfd p{master, POLLIN, 0};
                if (poll(&p, 1, 50) <= 0) continue;
                const ssize_t n = read(master, buf, sizeof buf);
                if (n > 0) WriteAll(master, buf, static_cast<size_t>(n));
            }
        });
        std::thread worker([&] {
            const uint8_t packet[16] = {0x7E, 0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x7E};
            for (int i = 0; i < samples; ++i) {
                responseArrived = false;
                const auto t0 = Clock::now();
                loop.RunAndWait([&] { port.WriteBuf(packet, sizeof packet); });
                while (!responseArrived.load(std::memory_order_acquire)) std::this_thread::yield();
                roundTripUs.push_back(
                    std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            }
            stop = true;
            loop.Wake();
        });
        loop.RunUntil([&] { return stop.load(); }, std::chrono::minutes(5));
        worker.join();
        echo.join();
        loop.RunFor(std::chrono::milliseconds(50));
        port.OnRxBuf = counting;
    }
    std::printf(
        "round trip worker -> main-thread WriteBuf -> far-side echo -> OnRxBuf "
        "(%d samples): median %.1f us, p90 %.1f us, p99 %.1f us\n",
        samples, Percentile(roundTripUs, 0.5), Percentile(roundTripUs, 0.9),
        Percentile(roundTripUs, 0.99));

    // 3. Throughput.
    {
        const long long total = static_cast<long long>(megabytes) << 20;
        const long long start = receivedBytes.load();
        const long long startCalls = calls;
        std::vector<uint8_t> block(65536);
        for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 31);
        const auto t0 = Clock::now();
        std::thread farSide([&] {
            for (long long sent = 0; sent < total; sent += static_cast<long long>(block.size()))
                WriteAll(master, block.data(), block.size());
        });
        loop.RunUntil([&] { return receivedBytes.load() - start >= total; },
                      std::chrono::minutes(5));
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        farSide.join();
        const long long chunks = calls - startCalls;
        std::printf(
            "receive throughput: %d MiB in %.3f s = %.1f MiB/s, %lld OnRxBuf calls "
            "(%.0f bytes per call)\n",
            megabytes, seconds, megabytes / seconds, chunks,
            static_cast<double>(total) / static_cast<double>(chunks ? chunks : 1));
    }

    // 4. Quiet line.
    {
        const int tid = port.ReceiveThreadId();
        loop.RunFor(std::chrono::milliseconds(100));
        const ThreadUsage before = UsageOf(tid);
        loop.RunFor(std::chrono::seconds(quietSeconds));
        const ThreadUsage after = UsageOf(tid);
        std::printf("quiet line for %d s: receive thread CPU %.3f ms, wake-ups %lld\n",
                    quietSeconds, static_cast<double>(after.cpuNs - before.cpuNs) / 1e6,
                    after.wakeups - before.wakeups);
    }

    port.Close();
    SetProcessMainThread(nullptr);
    close(master);
    return 0;
}
