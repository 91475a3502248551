#pragma once

#include <cstdint>

namespace zembra {

// Messages of EVaCommError. "%d" is the operating system's error number, "%s" its text. The
// two open failures name the port as it was given (with the device it resolved to when that
// differs) and the system's reason.
inline constexpr const char sInvalidPortNum[] = "Invalid port number (%s), %s";
inline constexpr const char sCantOpenDevice[] = "Can't open device %s, %s";
inline constexpr const char sSetEventMaskError[] = " Error setting EventMask (%d), %s";
inline constexpr const char sPurgeError[] = "Error clearing buffers (%d), %s";
inline constexpr const char sSetTimeoutsError[] = "Error setting timeouts (%d), %s";
inline constexpr const char sSetupCommError[] = "Error initializing buffers (%d), %s";
inline constexpr const char sEscapeCommError[] = "Error calling comm function (%d), %s";
inline constexpr const char sGetPropertiesError[] = "Error reading port properties (%d), %s";
inline constexpr const char sPortClosed[] = "Can't perform this operation while port is closed";
inline constexpr const char sPortOpen[] = "Can't perform this operation while port is open";
inline constexpr const char sWriteError[] = "Write error (%d), %s";
inline constexpr const char sReadError[] = "Read error (%d), %s";
inline constexpr const char sClearCommError[] = "Error retrieving statistics (%d), %s";
inline constexpr const char sNoManualDTR[] = "Manual DTR line updates not allowed.";
inline constexpr const char sNoManualRTS[] = "Manual RTS line updates not allowed.";
inline constexpr const char sWriteDcbError[] = "Error writing dcb (%d), %s";
inline constexpr const char sModemStateError[] = "Error reading modem state (%d), %s";
// Not a line failure but a wiring mistake of the host: no main thread to deliver events on.
inline constexpr const char sNoMainThread[] = "No main thread to deliver receive events";

// Messages of the port's hidden notification window.
inline constexpr uint32_t WM_VACOMM_DATA = 0x0401;
inline constexpr uint32_t WM_VACOMM_LINE = 0x0402;

// Largest block handed to one OnRxBuf call.
inline constexpr int VaMaxDataBlock = 32768;

}  // namespace zembra
