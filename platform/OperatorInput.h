#pragma once

namespace zembra {

// What the operator typed on the standard input while a console program waited.
enum class OperatorKey {
    None,    // nothing within the time
    Skip,    // Enter or Esc (on a terminal Esc needs Enter as well)
    Closed,  // the input has ended (end of file, /dev/null): it will never say anything
};

// Waits up to timeoutMs for a line or Esc on the standard input and takes what came.
OperatorKey WaitForOperatorKey(int timeoutMs);

}  // namespace zembra
