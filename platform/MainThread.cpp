#include "platform/MainThread.h"

#include <atomic>

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

}  // namespace zembra
