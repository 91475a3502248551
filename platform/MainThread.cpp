#include "platform/MainThread.h"

#include <atomic>
#include <thread>

namespace zembra {

namespace {
std::atomic<MainThread*> g_processMainThread{nullptr};
}  // namespace

void SetProcessMainThread(MainThread* mainThread) {
    g_processMainThread.store(mainThread, std::memory_order_release);
}

MainThread* ProcessMainThread() {
    return g_processMainThread.load(std::memory_order_acquire);
}

bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace zembra
