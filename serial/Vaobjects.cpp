#include "serial/Vaobjects.h"

#include <cerrno>

#include "platform/WaitEvent.h"

namespace zembra {

TVaHandleObject::~TVaHandleObject() {
    CloseWaitEvent(handle_);
}

TVaEvent::TVaEvent(bool manualReset, bool initialState) : manualReset_(manualReset) {
    handle_ = CreateWaitEvent(manualReset, initialState);
    if (handle_ < 0) lastError_ = errno;
}

bool TVaEvent::SetEvent() {
    if (handle_ < 0) return false;
    if (SignalWaitEvent(handle_)) return true;
    lastError_ = errno;
    return false;
}

bool TVaEvent::ResetEvent() {
    if (handle_ < 0) return false;
    if (ResetWaitEvent(handle_)) return true;
    lastError_ = errno;
    return false;
}

int TVaEvent::WaitFor(uint32_t ms) {
    if (handle_ < 0) {
        lastError_ = EBADF;
        return wrError;
    }
    switch (WaitForWaitEvent(handle_, manualReset_, ms)) {
        case WaitEventResult::Signalled:
            return wrSignaled;
        case WaitEventResult::Timeout:
            return wrTimeout;
        case WaitEventResult::Error:
            break;
    }
    lastError_ = errno;
    return wrError;
}

}  // namespace zembra
