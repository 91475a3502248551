#pragma once

#include <cstdint>

namespace zembra {

// An event object as an int handle, so that a serial device's event wait can wait for it
// together with the device (SerialDevice::WaitCommEvent's cancel handle). A manual-reset
// event stays signalled until reset; an auto-reset event is cleared by the wait that takes
// it. Linux: an eventfd; Windows: a Win32 event behind a C runtime descriptor.
//
// Every function that fails returns false (or -1) with errno set.
int CreateWaitEvent(bool manualReset, bool signalled);
bool SignalWaitEvent(int handle);
bool ResetWaitEvent(int handle);
void CloseWaitEvent(int handle);

// Waits up to ms for a socket (a descriptor; a SOCKET on Windows) to be ready for reading,
// or for writing; returns early on a signal (Linux). For the line server's client.
void WaitSocketReady(int socket, bool forWrite, int ms);

enum class WaitEventResult { Signalled, Timeout, Error };

// Waits at most ms milliseconds (0xFFFFFFFF: without limit).
WaitEventResult WaitForWaitEvent(int handle, bool manualReset, uint32_t ms);

}  // namespace zembra
