#include "platform/ThreadControl.h"

#include <windows.h>

namespace zembra {

int CurrentThreadId() {
    return static_cast<int>(GetCurrentThreadId());
}

void SetCurrentThreadPriority(int level) {
    static const int kPriority[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                    THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                    THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                    THREAD_PRIORITY_TIME_CRITICAL};
    if (level < 0 || level > 6) return;
    SetThreadPriority(GetCurrentThread(), kPriority[level]);
}

}  // namespace zembra
