#include "platform/SerialDevice.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/win/Handles.h"
#include "platform/win/WideText.h"

// Serial device I/O over the Win32 communications API. The handle is opened for overlapped
// I/O and kept behind a C runtime descriptor (Fd()), so that the interface stays the same as
// on Linux. Failures set errno from the Win32 error, so that the port component's checks
// (ENOENT: no such port, EBUSY: taken) and messages are those of the Linux build.

namespace zembra {

namespace {

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return EBUSY;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_INVALID_PARAMETER:
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION:
            return EINVAL;
        case ERROR_OPERATION_ABORTED:
            return ECANCELED;
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_BAD_UNIT:
        case ERROR_NOT_READY:
        case ERROR_BAD_COMMAND:
            return ENODEV;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        default:
            return EIO;
    }
}

// errno from GetLastError(); false for the caller to return.
bool Failed() {
    errno = ErrnoOf(GetLastError());
    return false;
}

HANDLE HandleOf(int fd) {
    return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// One overlapped operation with its own manual-reset event.
struct Overlapped {
    OVERLAPPED ov{};
    Overlapped() { ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() {
        if (ov.hEvent) CloseHandle(ov.hEvent);
    }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;
};

// Reads never wait: they return what the driver has queued. Writes are bounded by Write.
bool ApplyTimeouts(HANDLE h, const SerialTimeouts& requested) {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.WriteTotalTimeoutMultiplier = requested.WriteTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = requested.WriteTotalTimeoutConstant;
    return ::SetCommTimeouts(h, &t) != 0;
}

// The fields both records share by name: limits, character format, special characters.
template <typename From, typename To>
void CopyLineFields(const From& in, To& out) {
    out.XonLim = in.XonLim;
    out.XoffLim = in.XoffLim;
    out.ByteSize = in.ByteSize;
    out.Parity = in.Parity;
    out.StopBits = in.StopBits;
    out.XonChar = in.XonChar;
    out.XoffChar = in.XoffChar;
    out.ErrorChar = in.ErrorChar;
    out.EofChar = in.EofChar;
    out.EvtChar = in.EvtChar;
}

void ToDcb(const SerialDcb& in, DCB& out) {
    out.BaudRate = in.BaudRate;
    out.fBinary = (in.Flags & DCB_BINARY) != 0;
    out.fParity = (in.Flags & DCB_PARITY) != 0;
    out.fOutxCtsFlow = (in.Flags & DCB_OUTX_CTS_FLOW) != 0;
    out.fOutxDsrFlow = (in.Flags & DCB_OUTX_DSR_FLOW) != 0;
    out.fDtrControl = (in.Flags & DCB_DTR_CONTROL_MASK) >> 4;
    out.fDsrSensitivity = (in.Flags & DCB_DSR_SENSITIVITY) != 0;
    out.fTXContinueOnXoff = (in.Flags & DCB_TX_CONTINUE_ON_XOFF) != 0;
    out.fOutX = (in.Flags & DCB_OUTX) != 0;
    out.fInX = (in.Flags & DCB_INX) != 0;
    out.fErrorChar = (in.Flags & DCB_ERROR_CHAR) != 0;
    out.fNull = (in.Flags & DCB_NULL) != 0;
    out.fRtsControl = (in.Flags & DCB_RTS_CONTROL_MASK) >> 12;
    out.fAbortOnError = (in.Flags & DCB_ABORT_ON_ERROR) != 0;
    CopyLineFields(in, out);
}

void FromDcb(const DCB& in, SerialDcb& out) {
    out.BaudRate = in.BaudRate;
    out.Flags =
        (in.fBinary ? DCB_BINARY : 0) | (in.fParity ? DCB_PARITY : 0) |
        (in.fOutxCtsFlow ? DCB_OUTX_CTS_FLOW : 0) | (in.fOutxDsrFlow ? DCB_OUTX_DSR_FLOW : 0) |
        (in.fDtrControl << 4) | (in.fDsrSensitivity ? DCB_DSR_SENSITIVITY : 0) |
        (in.fTXContinueOnXoff ? DCB_TX_CONTINUE_ON_XOFF : 0) | (in.fOutX ? DCB_OUTX : 0) |
        (in.fInX ? DCB_INX : 0) | (in.fErrorChar ? DCB_ERROR_CHAR : 0) | (in.fNull ? DCB_NULL : 0) |
        (in.fRtsControl << 12) | (in.fAbortOnError ? DCB_ABORT_ON_ERROR : 0);
    CopyLineFields(in, out);
}

// The claim of users of this layer on a port: a named mutex per device, held while it is open.
// The share mode of CreateFile keeps other programs out where the driver enforces it (Wine's
// serial devices do not); the claim keeps Zembra's own programs apart everywhere. nullptr
// with errno EBUSY when another holds it.
HANDLE ClaimPort(const std::string& path) {
    std::wstring name = L"Local\\zembra-port-";
    for (char c : path) {
        const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
        name += upper == '\\' ? L'_' : static_cast<wchar_t>(static_cast<unsigned char>(upper));
    }
    HANDLE claim = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!claim) {
        Failed();
        return nullptr;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        errno = EBUSY;
        return nullptr;
    }
    return claim;
}

}  // namespace

bool SerialDevice::Open(const std::string& path) {
    if (fd_ >= 0) {
        errno = EBUSY;
        return false;
    }
    // No sharing: a port taken by another program answers ERROR_ACCESS_DENIED.
    HANDLE h = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Failed();
    auto fail = [&](int error, HANDLE claim) {
        if (claim) CloseHandle(claim);
        CloseHandle(h);
        errno = error;
        return false;
    };
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetFileType(h) != FILE_TYPE_CHAR || !::GetCommState(h, &dcb)) return fail(ENOTTY, nullptr);
    HANDLE claim = ClaimPort(path);
    if (!claim) return fail(errno, nullptr);
    if (!ApplyTimeouts(h, SerialTimeouts{})) return fail((Failed(), errno), claim);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    if (fd < 0) return fail(EMFILE, claim);
    fd_ = fd;
    kickFd_ = IntOfHandle(claim);
    // Wine's event wait gives up (ends as cancelled) whenever it cannot read the modem lines,
    // which is always the case on a pseudo-terminal: such a port is watched by polling.
    DWORD lines = 0;
    hasModemLines_ = ::GetCommModemStatus(h, &lines) != 0;
    reportedInQue_ = 0;
    consumed_ = false;
    txPending_ = false;
    FromDcb(dcb, dcb_);
    baudRate_ = dcb.BaudRate;
    mask_ = 0;
    return true;
}

void SerialDevice::Close(int drainMs) {
    if (fd_ < 0) return;
    HANDLE h = HandleOf(fd_);
    // Queued output gets up to drainMs to leave; the rest is discarded.
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(drainMs > 0 ? drainMs : 0);
    for (;;) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(h, &errors, &stat) || stat.cbOutQue == 0) break;
        if (GetTickCount64() >= deadline) break;
        Sleep(5);
    }
    ::PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    _close(fd_);  // closes the handle
    fd_ = -1;
    CloseHandle(HandleOfInt(kickFd_));
    kickFd_ = -1;
}

bool SerialDevice::SetCommState(const SerialDcb& dcb) {
    if (NotOpen()) return false;
    HANDLE h = HandleOf(fd_);
    DCB native{};
    native.DCBlength = sizeof native;
    if (!::GetCommState(h, &native)) return Failed();
    ToDcb(dcb, native);
    if (!::SetCommState(h, &native)) return Failed();
    // Some drivers (Wine's, for rates without a termios constant such as 256000) answer
    // success and set another rate: a rate not taken is an error, not a silent mismatch.
    DCB taken{};
    taken.DCBlength = sizeof taken;
    if (!::GetCommState(h, &taken)) return Failed();
    if (taken.BaudRate != dcb.BaudRate) {
        errno = EINVAL;
        return false;
    }
    dcb_ = dcb;
    baudRate_ = dcb.BaudRate;
    return true;
}

bool SerialDevice::GetCommState(SerialDcb& dcb) const {
    if (NotOpen()) return false;
    DCB native{};
    native.DCBlength = sizeof native;
    if (!::GetCommState(HandleOf(fd_), &native)) return Failed();
    FromDcb(native, dcb);
    return true;
}

bool SerialDevice::SetupComm(uint32_t inQueue, uint32_t outQueue) {
    if (NotOpen()) return false;
    if (!::SetupComm(HandleOf(fd_), inQueue, outQueue)) return Failed();
    inQueue_ = inQueue;
    outQueue_ = outQueue;
    return true;
}

bool SerialDevice::SetCommTimeouts(const SerialTimeouts& timeouts) {
    if (NotOpen()) return false;
    return ApplyTimeouts(HandleOf(fd_), timeouts) || Failed();
}

bool SerialDevice::SetCommMask(uint32_t mask) {
    if (NotOpen()) return false;
    if (!::SetCommMask(HandleOf(fd_), mask)) return Failed();
    mask_ = mask;
    return true;
}

bool SerialDevice::PendingEvents(uint32_t mask, uint32_t& events) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(HandleOf(fd_), &errors, &stat)) return Failed();
    if (consumed_.exchange(false)) reportedInQue_ = 0;
    if ((mask & EV_RXCHAR) && stat.cbInQue > reportedInQue_) events |= EV_RXCHAR;
    reportedInQue_ = stat.cbInQue;
    if ((mask & EV_TXEMPTY) && stat.cbOutQue == 0 && txPending_.exchange(false))
        events |= EV_TXEMPTY;
    if ((mask & EV_ERR) && (errors & (CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME)))
        events |= EV_ERR;
    if ((mask & EV_BREAK) && (errors & CE_BREAK)) events |= EV_BREAK;
    return true;
}

SerialWaitResult SerialDevice::WaitCommEvent(uint32_t& events, int cancelFd, int limitMs) {
    events = 0;
    if (NotOpen()) return SerialWaitResult::Gone;
    HANDLE h = HandleOf(fd_);
    HANDLE cancel = HandleOfInt(cancelFd);
    if (cancel && WaitForSingleObject(cancel, 0) == WAIT_OBJECT_0)
        return SerialWaitResult::Cancelled;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(limitMs, 0));
    if (!hasModemLines_) {
        // Polled every 2 ms: new bytes queued, output drained after a write, line errors.
        for (;;) {
            if (!PendingEvents(mask_.load(), events)) return SerialWaitResult::Gone;
            if (events) return SerialWaitResult::Events;
            if (limitMs >= 0 && GetTickCount64() >= deadline) return SerialWaitResult::Elapsed;
            if (cancel && WaitForSingleObject(cancel, 2) == WAIT_OBJECT_0)
                return SerialWaitResult::Cancelled;
            if (!cancel) Sleep(2);
        }
    }
    Overlapped o;
    if (!o.ov.hEvent) {
        Failed();
        return SerialWaitResult::Gone;
    }
    DWORD got = 0;
    if (!::WaitCommEvent(h, &got, &o.ov)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            errno = ErrnoOf(error);
            return SerialWaitResult::Gone;
        }
        HANDLE both[2] = {o.ov.hEvent, cancel};
        const DWORD count = cancel ? 2 : 1;
        const DWORD woke = WaitForMultipleObjects(
            count, both, FALSE, limitMs >= 0 ? static_cast<DWORD>(limitMs) : INFINITE);
        DWORD ignored = 0;
        if (woke == WAIT_OBJECT_0 + 1 || woke == WAIT_TIMEOUT) {
            CancelIoEx(h, &o.ov);
            // The wait may have completed meanwhile: its events are not lost then.
            if (::GetOverlappedResult(h, &o.ov, &ignored, TRUE) && (got & mask_.load()) != 0) {
                events = got & mask_.load();
                return SerialWaitResult::Events;
            }
            return woke == WAIT_TIMEOUT ? SerialWaitResult::Elapsed : SerialWaitResult::Cancelled;
        }
        if (woke != WAIT_OBJECT_0) {
            Failed();
            CancelIoEx(h, &o.ov);
            ::GetOverlappedResult(h, &o.ov, &ignored, TRUE);
            return SerialWaitResult::Gone;
        }
        if (!::GetOverlappedResult(h, &o.ov, &ignored, FALSE)) {
            // A mask change ends a pending wait with nothing to report.
            if (GetLastError() == ERROR_OPERATION_ABORTED) return SerialWaitResult::Events;
            Failed();
            return SerialWaitResult::Gone;
        }
    }
    events = got & mask_.load();
    return SerialWaitResult::Events;
}

long SerialDevice::Read(void* data, unsigned long count) {
    if (NotOpen()) return -1;
    if (count == 0) return 0;
    HANDLE h = HandleOf(fd_);
    Overlapped o;
    DWORD n = 0;
    if (!::ReadFile(h, data, count, &n, &o.ov)) {
        if (GetLastError() != ERROR_IO_PENDING || !::GetOverlappedResult(h, &o.ov, &n, TRUE)) {
            Failed();
            return -1;
        }
    }
    if (n > 0) consumed_ = true;
    return static_cast<long>(n);
}

// Received bytes are waited for by the receive thread's event wait only.
bool SerialDevice::CanReadWithin() {
    return false;
}

long SerialDevice::ReadWithin(void*, unsigned long, int, int) {
    errno = ENOSYS;
    return -1;
}

long SerialDevice::Write(const void* data, unsigned long count, uint32_t timeoutMs) {
    if (NotOpen()) return -1;
    if (count == 0) return 0;
    HANDLE h = HandleOf(fd_);
    Overlapped o;
    DWORD n = 0;
    txPending_ = true;
    if (::WriteFile(h, data, count, &n, &o.ov)) return static_cast<long>(n);
    if (GetLastError() != ERROR_IO_PENDING) {
        Failed();
        return -1;
    }
    if (WaitForSingleObject(o.ov.hEvent, timeoutMs) == WAIT_TIMEOUT) {
        // Out of time: stop waiting for the rest; what was sent stays sent.
        CancelIoEx(h, &o.ov);
        ::GetOverlappedResult(h, &o.ov, &n, TRUE);
        return 0;
    }
    if (!::GetOverlappedResult(h, &o.ov, &n, FALSE)) {
        Failed();
        return -1;
    }
    return n == count ? static_cast<long>(count) : 0;
}

bool SerialDevice::ClearCommError(uint32_t& errors, SerialComStat& stat) {
    if (NotOpen()) return false;
    DWORD native = 0;
    COMSTAT cs{};
    if (!::ClearCommError(HandleOf(fd_), &native, &cs)) return Failed();
    errors = native & (CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK);
    stat.Flags = (cs.fCtsHold ? COMSTAT_CTS_HOLD : 0) | (cs.fDsrHold ? COMSTAT_DSR_HOLD : 0) |
                 (cs.fRlsdHold ? COMSTAT_RLSD_HOLD : 0) | (cs.fXoffHold ? COMSTAT_XOFF_HOLD : 0) |
                 (cs.fXoffSent ? COMSTAT_XOFF_SENT : 0) | (cs.fEof ? COMSTAT_EOF : 0) |
                 (cs.fTxim ? COMSTAT_TXIM : 0);
    stat.InQue = cs.cbInQue;
    stat.OutQue = cs.cbOutQue;
    return true;
}

bool SerialDevice::PurgeComm(uint32_t flags) {
    if (NotOpen()) return false;
    if (!::PurgeComm(HandleOf(fd_), flags)) return Failed();
    if (flags & PURGE_RXCLEAR) consumed_ = true;
    return true;
}

bool SerialDevice::EscapeCommFunction(int function) {
    if (NotOpen()) return false;
    if (::EscapeCommFunction(HandleOf(fd_), static_cast<DWORD>(function))) return true;
    // A port without modem lines (a pseudo-terminal behind Wine) has no DTR and RTS to set:
    // their changes are taken as done, as on Linux.
    const bool modemLine =
        function == SETDTR || function == CLRDTR || function == SETRTS || function == CLRRTS;
    if (!modemLine || hasModemLines_) return Failed();
    return true;
}

bool SerialDevice::GetCommModemStatus(uint32_t& status) {
    if (NotOpen()) return false;
    DWORD native = 0;
    if (!::GetCommModemStatus(HandleOf(fd_), &native)) return Failed();
    status = native;
    return true;
}

bool SerialDevice::GetCommProperties(SerialCommProp& prop) {
    if (NotOpen()) return false;
    static_assert(sizeof(COMMPROP) == sizeof(SerialCommProp), "the same 64-byte record");
    COMMPROP native{};
    native.wPacketLength = sizeof native;
    if (!::GetCommProperties(HandleOf(fd_), &native)) return Failed();
    std::memcpy(&prop, &native, sizeof prop);
    return true;
}

}  // namespace zembra
