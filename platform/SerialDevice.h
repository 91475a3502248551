#pragma once

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>

namespace zembra {

// Serial device I/O on POSIX (open/termios/poll/ioctl; on Windows the Win32 communications
// API, platform/win/SerialDevice.cpp), offering what the serial port component
// relies on from the operating system: device-control block, queue sizes, time-outs, event
// mask and event wait, transfers, error clearing, purge, escape functions, modem status and
// port properties. Values (flags, masks, codes) are those of the Win32 serial interface so the
// component's mapping tables stay as they are.
//
// Every operation that fails returns false (or -1) with errno set; the caller formats the
// number and strerror() text. Threads: all operations run on the thread that owns the port
// (the main thread), except WaitCommEvent, which runs on the port's receive thread; the
// two share only atomics and the fd, which stays open until the receive thread has ended.

// Device-control block flags (DCB bit fields).
inline constexpr uint32_t DCB_BINARY = 0x0001;
inline constexpr uint32_t DCB_PARITY = 0x0002;
inline constexpr uint32_t DCB_OUTX_CTS_FLOW = 0x0004;
inline constexpr uint32_t DCB_OUTX_DSR_FLOW = 0x0008;
inline constexpr uint32_t DCB_DTR_CONTROL_MASK = 0x0030;
inline constexpr uint32_t DCB_DTR_ENABLE = 0x0010;
inline constexpr uint32_t DCB_DTR_HANDSHAKE = 0x0020;
inline constexpr uint32_t DCB_DSR_SENSITIVITY = 0x0040;
inline constexpr uint32_t DCB_TX_CONTINUE_ON_XOFF = 0x0080;
inline constexpr uint32_t DCB_OUTX = 0x0100;
inline constexpr uint32_t DCB_INX = 0x0200;
inline constexpr uint32_t DCB_ERROR_CHAR = 0x0400;
inline constexpr uint32_t DCB_NULL = 0x0800;
inline constexpr uint32_t DCB_RTS_CONTROL_MASK = 0x3000;
inline constexpr uint32_t DCB_RTS_ENABLE = 0x1000;
inline constexpr uint32_t DCB_RTS_HANDSHAKE = 0x2000;
inline constexpr uint32_t DCB_RTS_TOGGLE = 0x3000;
inline constexpr uint32_t DCB_ABORT_ON_ERROR = 0x4000;

// Parity and stop-bit codes.
inline constexpr uint8_t NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3,
                         SPACEPARITY = 4;
inline constexpr uint8_t ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;

// Comm event mask bits.
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;
inline constexpr uint32_t EV_PERR = 0x0200;
inline constexpr uint32_t EV_RX80FULL = 0x0400;
inline constexpr uint32_t EV_EVENT1 = 0x0800;
inline constexpr uint32_t EV_EVENT2 = 0x1000;

// Line-error flags returned by ClearCommError.
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;

// Queue-status hold flags (bit n-1 for GetComStat(n)).
inline constexpr uint32_t COMSTAT_CTS_HOLD = 0x01;
inline constexpr uint32_t COMSTAT_DSR_HOLD = 0x02;
inline constexpr uint32_t COMSTAT_RLSD_HOLD = 0x04;
inline constexpr uint32_t COMSTAT_XOFF_HOLD = 0x08;
inline constexpr uint32_t COMSTAT_XOFF_SENT = 0x10;
inline constexpr uint32_t COMSTAT_EOF = 0x20;
inline constexpr uint32_t COMSTAT_TXIM = 0x40;

// Purge flags.
inline constexpr uint32_t PURGE_TXABORT = 0x0001;
inline constexpr uint32_t PURGE_RXABORT = 0x0002;
inline constexpr uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t PURGE_RXCLEAR = 0x0008;

// Escape functions.
inline constexpr int SETXOFF = 1, SETXON = 2, SETRTS = 3, CLRRTS = 4, SETDTR = 5, CLRDTR = 6,
                     SETBREAK = 8, CLRBREAK = 9;

// Modem status bits.
inline constexpr uint32_t MS_CTS_ON = 0x0010;
inline constexpr uint32_t MS_DSR_ON = 0x0020;
inline constexpr uint32_t MS_RING_ON = 0x0040;
inline constexpr uint32_t MS_RLSD_ON = 0x0080;

inline constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;

struct SerialDcb {
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;  // DCB_* bits
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
};

struct SerialTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

struct SerialComStat {
    uint32_t Flags = 0;   // COMSTAT_* hold flags
    uint32_t InQue = 0;   // bytes waiting to be read
    uint32_t OutQue = 0;  // bytes waiting to be sent
};

// The 64-byte port-properties record (layout of the Win32 COMMPROP).
struct SerialCommProp {
    uint16_t PacketLength;
    uint16_t PacketVersion;
    uint32_t ServiceMask;
    uint32_t Reserved1;
    uint32_t MaxTxQueue;
    uint32_t MaxRxQueue;
    uint32_t MaxBaud;
    uint32_t ProvSubType;
    uint32_t ProvCapabilities;
    uint32_t SettableParams;
    uint32_t SettableBaud;
    uint16_t SettableData;
    uint16_t SettableStopParity;
    uint32_t CurrentTxQueue;
    uint32_t CurrentRxQueue;
    uint32_t ProvSpec1;
    uint32_t ProvSpec2;
    uint16_t ProvChar[1];
};
static_assert(sizeof(SerialCommProp) == 64, "port-properties record is 64 bytes");

// Outcome of SerialDevice::WaitCommEvent.
enum class SerialWaitResult {
    Events,     // events holds the bits that occurred (may be 0 after a mask change)
    Cancelled,  // the cancel descriptor became readable
    Gone,       // the device hung up or failed for good; errno tells why
    Elapsed,    // the time limit passed first
};

class SerialDevice {
  public:
    SerialDevice() = default;
    ~SerialDevice() { Close(0); }
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens the device for reading and writing, exclusively (no other open by this or another
    // process that uses this layer; TIOCEXCL for the others), without becoming its controlling
    // terminal. Fails with ENOTTY when the path is not a terminal and EBUSY when it is in use.
    bool Open(const std::string& path);
    // Closes the device: queued output gets up to drainMs to leave, the rest is discarded,
    // so that closing never blocks on a stalled line. Closing a closed device does nothing.
    void Close(int drainMs = 200);
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    // Programs the line from the device-control block. Rates are set exactly (any rate, through
    // the kernel's arbitrary-rate interface). Flags that termios cannot express (DSR flow, DTR
    // handshake, RTS toggle, DSR sensitivity, continue-on-XOFF, error character, null stripping,
    // abort on error) are kept and reported by GetCommState. DTR and RTS follow their control
    // fields where the driver has modem lines (a pseudo-terminal has none: nothing changes).
    bool SetCommState(const SerialDcb& dcb);
    bool GetCommState(SerialDcb& dcb) const;
    // Driver queue sizes: kept (a tty's queues have a fixed size) and used for the free counts.
    bool SetupComm(uint32_t inQueue, uint32_t outQueue);
    // Reads never wait (they return what is queued), writes wait in Write: only Windows
    // passes the write time-outs on to its driver.
    bool SetCommTimeouts(const SerialTimeouts& timeouts);
    bool SetCommMask(uint32_t mask);

    // Receive thread: sleeps in poll() until an event of the mask occurs, cancelFd becomes
    // readable, or the device hangs up. EV_RXCHAR is reported when bytes are queued that were
    // not reported before; EV_TXEMPTY once the output queue has drained after a Write; EV_ERR
    // and EV_BREAK from the driver's error counters, EV_CTS/DSR/RLSD/RING from modem-line
    // changes (checked every 10 ms only while such bits are in the mask and the driver has
    // modem lines), EV_RX80FULL when the input queue holds 80% of the input queue size.
    // limitMs >= 0: Elapsed once that long has passed without any of these.
    SerialWaitResult WaitCommEvent(uint32_t& events, int cancelFd, int limitMs = -1);

    // Reads what is queued, at most count bytes; never waits. -1 with errno on failure.
    long Read(void* data, unsigned long count);
    // Waits up to timeoutMs for received bytes, or until cancelFd (when >= 0) is readable,
    // then reads what is queued, at most count bytes. 0 when nothing came in time or on
    // cancel; -1 with errno once the device has hung up (EIO) or failed. For a reader that
    // waits for its own bytes instead of a receive thread (a thread of its own: not together
    // with WaitCommEvent for received bytes). Where CanReadWithin is false, always -1
    // (ENOSYS).
    long ReadWithin(void* data, unsigned long count, int timeoutMs, int cancelFd);
    static bool CanReadWithin();
    // Writes count bytes, waiting at most timeoutMs for room in the output queue.
    // Returns count, 0 when the time ran out (bytes already queued are sent), -1 with errno
    // on failure.
    long Write(const void* data, unsigned long count, uint32_t timeoutMs);

    // Returns and clears the line-error flags since the previous call, and the queue status.
    bool ClearCommError(uint32_t& errors, SerialComStat& stat);
    bool PurgeComm(uint32_t flags);
    bool EscapeCommFunction(int function);
    bool GetCommModemStatus(uint32_t& status);
    bool GetCommProperties(SerialCommProp& prop);

  private:
    struct Counters {
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    };
    bool ReadCounters(Counters& c);
    bool ReadModemLines(int& lines);
    bool ApplyModemLine(int line, bool on);
    void Kick();
    // True, with errno EBADF, when the device is not open.
    bool NotOpen() const {
        if (fd_ >= 0) return false;
        errno = EBADF;
        return true;
    }
    // Events ready now, without waiting; false when the device failed.
    bool PendingEvents(uint32_t mask, uint32_t& events);

    int fd_ = -1;
    // Linux: eventfd that wakes WaitCommEvent after a write or a mask change.
    // Windows: the port's claim (a named mutex) while open.
    int kickFd_ = -1;
    SerialDcb dcb_{};
    std::atomic<uint32_t> mask_{0};
    std::atomic<uint32_t> inQueue_{4096};
    std::atomic<uint32_t> outQueue_{2048};
    std::atomic<bool> txPending_{false};
    std::atomic<bool> consumed_{false};  // bytes were read or purged since the last check
    std::atomic<uint32_t> baudRate_{9600};
    std::atomic<bool> hasModemLines_{true};  // cleared when the driver answers ENOTTY/EINVAL
    std::atomic<bool> hasCounters_{true};
    Counters errorBase_{};  // baseline of ClearCommError (main thread)
    // Receive-thread state.
    Counters eventBase_{};
    int lastModemLines_ = -1;
    uint32_t reportedInQue_ = 0;
    bool rx80Reported_ = false;
};

// Line settings of a terminal as the kernel holds them (termios2): for checks and tools.
bool ReadTerminalLine(int fd, uint32_t& outputRate, uint32_t& inputRate, uint32_t& cflag,
                      uint32_t& iflag);

}  // namespace zembra
