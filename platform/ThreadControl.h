#pragma once

namespace zembra {

// The operating system's number of the calling thread (for logs and checks).
int CurrentThreadId();

// Scheduling priority of the calling thread, 0 (idle) to 6 (time-critical), 3 normal.
// Raising it may need a right the process lacks; the thread then keeps its priority.
void SetCurrentThreadPriority(int level);

}  // namespace zembra
