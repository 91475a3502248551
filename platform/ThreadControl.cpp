#include "platform/ThreadControl.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zembra {

int CurrentThreadId() {
    return static_cast<int>(syscall(SYS_gettid));
}

void SetCurrentThreadPriority(int level) {
    // Nice values for the levels, idle to time-critical.
    static const int kNice[] = {19, 10, 5, 0, -5, -10, -20};
    if (level < 0 || level > 6) return;
    setpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId()), kNice[level]);
}

}  // namespace zembra
