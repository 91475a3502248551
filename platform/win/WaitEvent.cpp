#include "platform/WaitEvent.h"

#include <winsock2.h>

#include <cerrno>

#include "platform/win/Handles.h"

// Win32 events; SerialDevice::WaitCommEvent waits for them together with the port.

namespace zembra {

namespace {

bool Done(BOOL ok) {
    if (!ok) errno = EIO;
    return ok != 0;
}

}  // namespace

int CreateWaitEvent(bool manualReset, bool signalled) {
    HANDLE event = CreateEventW(nullptr, manualReset, signalled, nullptr);
    if (!event) {
        errno = ENOMEM;
        return -1;
    }
    return IntOfHandle(event);
}

bool SignalWaitEvent(int handle) {
    return Done(SetEvent(HandleOfInt(handle)));
}

bool ResetWaitEvent(int handle) {
    return Done(ResetEvent(HandleOfInt(handle)));
}

void CloseWaitEvent(int handle) {
    if (handle >= 0) CloseHandle(HandleOfInt(handle));
}

WaitEventResult WaitForWaitEvent(int handle, bool, uint32_t ms) {
    switch (WaitForSingleObject(HandleOfInt(handle), ms)) {
        case WAIT_OBJECT_0:
            return WaitEventResult::Signalled;
        case WAIT_TIMEOUT:
            return WaitEventResult::Timeout;
        default:
            errno = EIO;
            return WaitEventResult::Error;
    }
}

// libpq's socket (PQsocket gives the SOCKET as an int).
void WaitSocketReady(int socket, bool forWrite, int ms) {
    WSAPOLLFD fd{static_cast<SOCKET>(socket),
                 static_cast<SHORT>(forWrite ? POLLWRNORM : POLLRDNORM), 0};
    if (socket >= 0) WSAPoll(&fd, 1, ms);
}

}  // namespace zembra
