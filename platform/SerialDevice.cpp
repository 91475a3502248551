// Serial device I/O on Linux. This file speaks termios2 (asm/termbits.h) directly, so it must
// not include <termios.h>: the two define the same names differently.
#include "platform/SerialDevice.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace zembra {

namespace {

// arg: a pointer, or a long value.
template <typename Arg>
int IoctlRetry(int fd, unsigned long request, Arg arg) {
    int r;
    do {
        r = ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

// The ioctl where the driver has that control: true when it worked, or when the driver says
// it has none (ENOTTY, EINVAL, ENOSYS: a pseudo-terminal has no modem lines and no error
// counters; supported is then cleared for good and later calls do nothing); false with errno.
template <typename Arg>
bool IoctlWhereSupported(int fd, unsigned long request, Arg arg, std::atomic<bool>& supported) {
    if (!supported) return true;
    if (IoctlRetry(fd, request, arg) == 0) return true;
    if (errno != ENOTTY && errno != EINVAL && errno != ENOSYS) return false;
    supported = false;
    return true;
}

constexpr uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;

}  // namespace

bool SerialDevice::Open(const std::string& path) {
    if (fd_ >= 0) {
        errno = EBUSY;
        return false;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    auto fail = [fd](int error) {
        close(fd);
        errno = error;
        return false;
    };
    if (!isatty(fd)) return fail(ENOTTY);
    // No sharing: an advisory lock between users of this layer (also for root, whom the
    // kernel's exclusive mode does not stop), and the kernel's exclusive mode for the others.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    IoctlRetry(fd, TIOCEXCL, 0L);
    const int kick = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (kick < 0) return fail(errno);

    fd_ = fd;
    kickFd_ = kick;
    dcb_ = SerialDcb{};
    mask_ = 0;
    txPending_ = false;
    consumed_ = false;
    hasModemLines_ = true;
    hasCounters_ = true;
    errorBase_ = Counters{};
    if (!ReadCounters(errorBase_)) errorBase_ = Counters{};
    eventBase_ = errorBase_;
    lastModemLines_ = -1;
    reportedInQue_ = 0;
    rx80Reported_ = false;
    return true;
}

void SerialDevice::Close(int drainMs) {
    if (fd_ < 0) return;
    // Let queued output leave for a while, then discard the rest, so that close() does not
    // wait for a stalled line.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(drainMs > 0 ? drainMs : 0);
    int queued = 0;
    while (drainMs > 0 && IoctlRetry(fd_, TIOCOUTQ, &queued) == 0 && queued > 0 &&
           Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    IoctlRetry(fd_, TCFLSH, static_cast<long>(TCOFLUSH));
    IoctlRetry(fd_, TIOCNXCL, 0L);
    close(fd_);
    close(kickFd_);
    fd_ = -1;
    kickFd_ = -1;
}

bool SerialDevice::SetCommState(const SerialDcb& dcb) {
    if (NotOpen()) return false;
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.StopBits > TWOSTOPBITS) {
        errno = EINVAL;
        return false;
    }
    struct termios2 t {};
    if (IoctlRetry(fd_, TCGETS2, &t) != 0) return false;

    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT) | CSIZE | PARENB | PARODD |
                                        CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT) | CREAD | CLOCAL;
    t.c_ispeed = dcb.BaudRate;
    t.c_ospeed = dcb.BaudRate;
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[dcb.ByteSize - 5];
    // None, odd, even, mark, space.
    static const tcflag_t kParity[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                       PARENB | CMSPAR};
    t.c_cflag |= kParity[dcb.Parity];
    // One and a half stop bits: the UART's "two stop bits" gives 1.5 with 5 data bits.
    if (dcb.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
    if (dcb.Flags & DCB_OUTX_CTS_FLOW) t.c_cflag |= CRTSCTS;

    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR |
                                        IGNCR | ICRNL | IUCLC | IXON | IXANY | IXOFF | IMAXBEL);
    if (dcb.Flags & DCB_PARITY) t.c_iflag |= INPCK;
    if (dcb.Flags & DCB_OUTX) t.c_iflag |= IXON;
    if (dcb.Flags & DCB_INX) t.c_iflag |= IXOFF;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag = 0;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    if (IoctlRetry(fd_, TCSETS2, &t) != 0) return false;

    // DTR and RTS follow their control fields (handshake: raised, the driver or the peer
    // decides; toggle: dropped until sending, which the driver cannot do: kept).
    const uint32_t dtr = dcb.Flags & DCB_DTR_CONTROL_MASK;
    const uint32_t rts = dcb.Flags & DCB_RTS_CONTROL_MASK;
    if (!ApplyModemLine(TIOCM_DTR, dtr != 0)) return false;
    if (!(dcb.Flags & DCB_OUTX_CTS_FLOW) || rts != DCB_RTS_HANDSHAKE) {
        if (!ApplyModemLine(TIOCM_RTS, rts == DCB_RTS_ENABLE || rts == DCB_RTS_HANDSHAKE))
            return false;
    }
    dcb_ = dcb;
    baudRate_ = dcb.BaudRate;
    return true;
}

bool SerialDevice::GetCommState(SerialDcb& dcb) const {
    if (NotOpen()) return false;
    dcb = dcb_;
    return true;
}

bool SerialDevice::SetupComm(uint32_t inQueue, uint32_t outQueue) {
    if (NotOpen()) return false;
    inQueue_ = inQueue;
    outQueue_ = outQueue;
    return true;
}

bool SerialDevice::SetCommTimeouts(const SerialTimeouts&) {
    return !NotOpen();
}

bool SerialDevice::SetCommMask(uint32_t mask) {
    if (NotOpen()) return false;
    mask_ = mask;
    Kick();
    return true;
}

void SerialDevice::Kick() {
    const uint64_t one = 1;
    ssize_t ignored = write(kickFd_, &one, sizeof one);
    (void)ignored;  // only fails when the counter is already huge: the waiter is awake anyway
}

bool SerialDevice::ReadCounters(Counters& c) {
    struct serial_icounter_struct ic {};
    if (!IoctlWhereSupported(fd_, TIOCGICOUNT, &ic, hasCounters_)) return false;
    if (!hasCounters_) return true;
    c.frame = ic.frame;
    c.overrun = ic.overrun;
    c.parity = ic.parity;
    c.brk = ic.brk;
    c.bufOverrun = ic.buf_overrun;
    return true;
}

bool SerialDevice::ReadModemLines(int& lines) {
    lines = 0;
    const bool ok = IoctlWhereSupported(fd_, TIOCMGET, &lines, hasModemLines_);
    if (!ok || !hasModemLines_) lines = 0;
    return ok;
}

bool SerialDevice::ApplyModemLine(int line, bool on) {
    return IoctlWhereSupported(fd_, on ? TIOCMBIS : TIOCMBIC, &line, hasModemLines_);
}

bool SerialDevice::PendingEvents(uint32_t mask, uint32_t& events) {
    events = 0;
    if (mask & (EV_RXCHAR | EV_RX80FULL)) {
        if (consumed_.exchange(false)) reportedInQue_ = 0;
        int queued = 0;
        if (IoctlRetry(fd_, FIONREAD, &queued) != 0) return false;
        const uint32_t inQue = static_cast<uint32_t>(queued > 0 ? queued : 0);
        if (inQue > reportedInQue_) events |= EV_RXCHAR;
        reportedInQue_ = inQue;
        const uint32_t threshold = inQueue_.load() / 10 * 8;
        if (inQue > 0 && inQue >= threshold) {
            if (!rx80Reported_) events |= EV_RX80FULL;
            rx80Reported_ = true;
        } else {
            rx80Reported_ = false;
        }
    }
    if ((mask & EV_TXEMPTY) && txPending_.exchange(false)) {
        int queued = 0;
        if (IoctlRetry(fd_, TIOCOUTQ, &queued) != 0) return false;
        if (queued == 0) {
            events |= EV_TXEMPTY;
        } else {
            txPending_ = true;
        }
    }
    if ((mask & (EV_ERR | EV_BREAK)) && hasCounters_) {
        Counters c;
        if (!ReadCounters(c)) return false;
        if (hasCounters_) {
            if (c.frame != eventBase_.frame || c.overrun != eventBase_.overrun ||
                c.parity != eventBase_.parity || c.bufOverrun != eventBase_.bufOverrun)
                events |= EV_ERR;
            if (c.brk != eventBase_.brk) events |= EV_BREAK;
            eventBase_ = c;
        }
    }
    if ((mask & kModemEvents) && hasModemLines_) {
        int lines = 0;
        if (!ReadModemLines(lines)) return false;
        if (hasModemLines_) {
            if (lastModemLines_ >= 0) {
                const int changed = lines ^ lastModemLines_;
                if (changed & TIOCM_CTS) events |= EV_CTS;
                if (changed & TIOCM_DSR) events |= EV_DSR;
                if (changed & TIOCM_CD) events |= EV_RLSD;
                if (changed & TIOCM_RNG) events |= EV_RING;
            }
            lastModemLines_ = lines;
        }
    }
    events &= mask;
    return true;
}

// Readable with nothing to read, this many times in a row: end of file without a hang-up
// report (a far side that is gone). Taken for a hang-up instead of waking up for ever.
constexpr int kEmptyWakesOfAHangUp = 3;

SerialWaitResult SerialDevice::WaitCommEvent(uint32_t& events, int cancelFd, int limitMs) {
    events = 0;
    if (NotOpen()) return SerialWaitResult::Gone;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    bool hungUp = false;
    int emptyWakes = 0;
    for (;;) {
        const uint32_t mask = mask_.load();
        uint32_t ready = 0;
        if (!PendingEvents(mask, ready)) return SerialWaitResult::Gone;
        if (ready) {
            events = ready;
            return SerialWaitResult::Events;
        }
        if (hungUp) {
            // Nothing left to report from a device that hung up: it stays hung up.
            errno = EIO;
            return SerialWaitResult::Gone;
        }

        // Sleep in the kernel. Bytes that are queued but not read yet keep the device
        // readable, so only new arrivals are watched for then, by their count.
        const bool unread = reportedInQue_ > 0;
        const bool watchRx = (mask & (EV_RXCHAR | EV_RX80FULL)) && !unread;
        int timeout = -1;
        if ((mask & (EV_RXCHAR | EV_RX80FULL)) && unread) timeout = 10;
        if ((mask & kModemEvents) && hasModemLines_) timeout = 10;
        if ((mask & EV_TXEMPTY) && txPending_) {
            int queued = 0;
            IoctlRetry(fd_, TIOCOUTQ, &queued);
            const uint32_t rate = baudRate_.load() ? baudRate_.load() : 9600;
            long ms = static_cast<long>(queued) * 10 * 1000 / static_cast<long>(rate);
            ms = std::clamp(ms, 1L, 100L);
            timeout = timeout < 0 ? static_cast<int>(ms) : std::min(timeout, static_cast<int>(ms));
        }
        if (limitMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return SerialWaitResult::Elapsed;
            timeout = timeout < 0 ? static_cast<int>(left.count())
                                  : std::min(timeout, static_cast<int>(left.count()));
        }
        pollfd fds[3] = {{fd_, static_cast<short>(watchRx ? POLLIN : 0), 0},
                         {cancelFd, POLLIN, 0},
                         {kickFd_, POLLIN, 0}};
        const int n = poll(fds, 3, timeout);
        if (n < 0) {
            if (errno == EINTR) continue;
            return SerialWaitResult::Gone;
        }
        if (fds[1].revents) return SerialWaitResult::Cancelled;
        if (fds[2].revents & POLLIN) {
            uint64_t value;
            ssize_t ignored = read(kickFd_, &value, sizeof value);
            (void)ignored;
        }
        const short rev = fds[0].revents;
        if (rev & (POLLHUP | POLLERR | POLLNVAL)) {
            // Report what is still queued, then the hang-up.
            hungUp = true;
            continue;
        }
        if (rev & POLLIN) {
            // Readable with nothing queued, again and again: end of file without a hang-up
            // report. Treat it as a hang-up instead of waking up for ever.
            int queued = 0;
            if (IoctlRetry(fd_, FIONREAD, &queued) == 0 && queued == 0) {
                if (++emptyWakes >= kEmptyWakesOfAHangUp) hungUp = true;
            } else {
                emptyWakes = 0;
            }
        } else {
            emptyWakes = 0;
        }
    }
}

long SerialDevice::Read(void* data, unsigned long count) {
    if (NotOpen()) return -1;
    if (count == 0) return 0;
    for (;;) {
        const ssize_t n = read(fd_, data, count);
        if (n >= 0) {
            if (n > 0) consumed_ = true;
            return static_cast<long>(n);
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        return -1;
    }
}

bool SerialDevice::CanReadWithin() {
    return true;
}

long SerialDevice::ReadWithin(void* data, unsigned long count, int timeoutMs, int cancelFd) {
    if (NotOpen()) return -1;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {cancelFd, POLLIN, 0}};
    // The caller has usually just written and waits for the answer: poll first, which
    // returns at once when bytes are there already.
    for (int emptyWakes = 0;;) {
        if (timeoutMs > 0) {
            const int r = poll(fds, cancelFd >= 0 ? 2 : 1, timeoutMs);
            if (r < 0) return errno == EINTR ? 0 : -1;
            if (r == 0 || (cancelFd >= 0 && fds[1].revents)) return 0;
            if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fds[0].revents & POLLIN)) {
                errno = EIO;
                return -1;
            }
        }
        const ssize_t n = read(fd_, data, count);
        if (n > 0) {
            consumed_ = true;
            return static_cast<long>(n);
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return -1;
        if (timeoutMs <= 0) return 0;
        if (++emptyWakes >= kEmptyWakesOfAHangUp) {
            errno = EIO;
            return -1;
        }
    }
}

long SerialDevice::Write(const void* data, unsigned long count, uint32_t timeoutMs) {
    if (NotOpen()) return -1;
    if (count == 0) return 0;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto* bytes = static_cast<const uint8_t*>(data);
    unsigned long done = 0;
    long result = static_cast<long>(count);
    while (done < count) {
        const ssize_t n = write(fd_, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<unsigned long>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            result = -1;
            break;
        }
        // The output queue is full: wait for room, at most until the deadline.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd_, POLLOUT, 0};
        const int r = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count())) : 0;
        if (r < 0 && errno != EINTR) {
            result = -1;
            break;
        }
        if (r == 0) {
            result = 0;
            break;
        }
        // Writable or an error condition: the next write tells which.
    }
    if (done > 0 && (mask_.load() & EV_TXEMPTY)) {
        const int saved = errno;
        txPending_ = true;
        Kick();
        errno = saved;
    }
    return result;
}

bool SerialDevice::ClearCommError(uint32_t& errors, SerialComStat& stat) {
    errors = 0;
    stat = SerialComStat{};
    if (NotOpen()) return false;
    Counters c = errorBase_;
    if (!ReadCounters(c)) return false;
    if (c.overrun != errorBase_.overrun) errors |= CE_OVERRUN;
    if (c.bufOverrun != errorBase_.bufOverrun) errors |= CE_RXOVER;
    if (c.parity != errorBase_.parity) errors |= CE_RXPARITY;
    if (c.frame != errorBase_.frame) errors |= CE_FRAME;
    if (c.brk != errorBase_.brk) errors |= CE_BREAK;
    errorBase_ = c;
    int inQue = 0, outQue = 0;
    if (IoctlRetry(fd_, FIONREAD, &inQue) != 0) return false;
    if (IoctlRetry(fd_, TIOCOUTQ, &outQue) != 0) return false;
    stat.InQue = static_cast<uint32_t>(inQue > 0 ? inQue : 0);
    stat.OutQue = static_cast<uint32_t>(outQue > 0 ? outQue : 0);
    int lines = 0;
    if (!ReadModemLines(lines)) return false;
    if (hasModemLines_) {
        if ((dcb_.Flags & DCB_OUTX_CTS_FLOW) && !(lines & TIOCM_CTS))
            stat.Flags |= COMSTAT_CTS_HOLD;
        if ((dcb_.Flags & DCB_OUTX_DSR_FLOW) && !(lines & TIOCM_DSR))
            stat.Flags |= COMSTAT_DSR_HOLD;
    }
    return true;
}

bool SerialDevice::PurgeComm(uint32_t flags) {
    if (NotOpen()) return false;
    const bool rx = flags & PURGE_RXCLEAR;
    const bool tx = flags & PURGE_TXCLEAR;
    // Transfers never stay pending in this layer, so the abort flags have nothing to abort.
    if (rx || tx) {
        const long queue = rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH);
        if (IoctlRetry(fd_, TCFLSH, queue) != 0) return false;
        if (rx) consumed_ = true;
    }
    return true;
}

bool SerialDevice::EscapeCommFunction(int function) {
    if (NotOpen()) return false;
    switch (function) {
        case SETXOFF:
            return IoctlRetry(fd_, TCXONC, static_cast<long>(TCOOFF)) == 0;
        case SETXON:
            return IoctlRetry(fd_, TCXONC, static_cast<long>(TCOON)) == 0;
        case SETRTS:
            return ApplyModemLine(TIOCM_RTS, true);
        case CLRRTS:
            return ApplyModemLine(TIOCM_RTS, false);
        case SETDTR:
            return ApplyModemLine(TIOCM_DTR, true);
        case CLRDTR:
            return ApplyModemLine(TIOCM_DTR, false);
        case SETBREAK:
            return IoctlRetry(fd_, TIOCSBRK, 0L) == 0;
        case CLRBREAK:
            return IoctlRetry(fd_, TIOCCBRK, 0L) == 0;
        default:
            errno = EINVAL;
            return false;
    }
}

bool SerialDevice::GetCommModemStatus(uint32_t& status) {
    status = 0;
    if (NotOpen()) return false;
    int lines = 0;
    if (!ReadModemLines(lines)) return false;
    if (lines & TIOCM_CTS) status |= MS_CTS_ON;
    if (lines & TIOCM_DSR) status |= MS_DSR_ON;
    if (lines & TIOCM_RNG) status |= MS_RING_ON;
    if (lines & TIOCM_CD) status |= MS_RLSD_ON;
    return true;
}

bool SerialDevice::GetCommProperties(SerialCommProp& prop) {
    prop = SerialCommProp{};
    if (NotOpen()) return false;
    struct termios2 t {};
    if (IoctlRetry(fd_, TCGETS2, &t) != 0) return false;
    prop.PacketLength = sizeof(SerialCommProp);
    prop.PacketVersion = 2;
    prop.ServiceMask = 0x00000001;  // serial communications
    prop.MaxBaud = 0x10000000;      // programmable rate
    prop.ProvSubType = 0x00000001;  // RS-232
    // DTR/DSR, RTS/CTS, RLSD, parity check, XON/XOFF, settable XON/XOFF characters, total and
    // interval time-outs, special characters.
    prop.ProvCapabilities = 0x01FF;
    prop.SettableParams = 0x007F;    // parity, rate, data bits, stop bits, handshake, ...
    prop.SettableBaud = 0x1007FFFF;  // every listed rate and programmable rates
    prop.SettableData = 0x000F;      // 5, 6, 7, 8 data bits
    prop.SettableStopParity = 0x1F00 | 0x0007;
    prop.CurrentTxQueue = outQueue_.load();
    prop.CurrentRxQueue = inQueue_.load();
    return true;
}

bool ReadTerminalLine(int fd, uint32_t& outputRate, uint32_t& inputRate, uint32_t& cflag,
                      uint32_t& iflag) {
    struct termios2 t {};
    if (IoctlRetry(fd, TCGETS2, &t) != 0) return false;
    outputRate = t.c_ospeed;
    inputRate = t.c_ispeed;
    cflag = t.c_cflag;
    iflag = t.c_iflag;
    return true;
}

}  // namespace zembra
