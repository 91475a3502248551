#include "sim/SimulatedPhone.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/Helpers.h"
#include "platform/PortNames.h"
#include "platform/SerialDevice.h"
#include "platform/SerialDeviceMap.h"
#include "sim/PhoneSession.h"

namespace zembra {

namespace {

std::int64_t MonoNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

timespec ToTimespec(std::int64_t ns) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000LL);
    ts.tv_nsec = static_cast<long>(ns % 1000000000LL);
    return ts;
}

std::string ErrnoText(const std::string& what) {
    return what + ": " + ErrorNumberText(errno);
}

// Why a register call failed: the folder's refusal when it is refused, else errno's text.
std::string RegisterErrorText(const std::string& what, const std::string& refusal) {
    return refusal.empty() ? ErrnoText(what) : what + ": " + refusal;
}

void SetError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

// The output rate in bit/s the tool set on the line (the kernel's arbitrary-rate interface, so
// that rates without a classic constant such as 256,000 read correctly); 0 when unknown.
std::uint32_t ReadLineRate(int fd) {
    std::uint32_t output = 0, input = 0, cflag = 0, iflag = 0;
    return ReadTerminalLine(fd, output, input, cflag, iflag) ? output : 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The I/O side: the line, the thread, pacing and registration.

struct SimulatedPhone::Impl {
    explicit Impl(const SimPhoneConfig& c) : config(c), session(c) {}

    const SimPhoneConfig& config;

    // Guarded by mutex: session, plugged, generation, devicePath.
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    PhoneSession session;
    bool plugged = false;
    std::uint64_t generation = 0;
    std::string devicePath;

    // Owned by the I/O thread while it runs (set up before it starts, torn down after it
    // ends); Replug hands a new line over through the mutex and the wake descriptor.
    int master = -1;
    bool isPty = false;
    int inotifyFd = -1;
    int wakeFd = -1;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> replugRequested{false};
    bool lineClosed = false;
    bool hupDuringSleep = false;
    std::int64_t rxFreeAt = 0;
    std::int64_t txFreeAt = 0;
    std::int64_t replugAt = 0;  // when an unplugged phone plugs in again (0: not by itself)

    // Registered names (to remove).
    std::string aliasRegistered;
    std::string mapRegistered;

    std::string MapValue() const {
        if (config.link != SimLink::Usb || !config.registerDeviceMap || config.portName.empty())
            return {};
        int n = config.trelvicIndex;
        if (n < 0) {
            const int port = PortNumberOf(config.portName);
            if (port <= 0) return {};
            n = port >= 65 ? port - 65 : port;
        }
        return "\\Device\\trelvic" + std::to_string(n);
    }

    std::string CurrentDevicePath() const {
        std::lock_guard<std::mutex> lock(mutex);
        return devicePath;
    }

    bool OpenLine(std::string* error) {
        std::string path = config.devicePath;
        isPty = path.empty();
        int fd;
        if (!isPty) {
            fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                SetError(error, ErrnoText("cannot open " + path));
                return false;
            }
        } else {
            fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) {
                SetError(error, ErrnoText("cannot create a pseudo-terminal"));
                if (fd >= 0) ::close(fd);
                return false;
            }
            char name[128];
            if (ptsname_r(fd, name, sizeof name) != 0) {
                SetError(error, ErrnoText("cannot name the pseudo-terminal"));
                ::close(fd);
                return false;
            }
            path = name;
            inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            if (inotifyFd >= 0 && inotify_add_watch(inotifyFd, path.c_str(), IN_OPEN) < 0) {
                ::close(inotifyFd);
                inotifyFd = -1;
            }
        }
        // Raw; a new pseudo-terminal also at 57,600 bit/s (settings made through the master
        // apply to the slave).
        termios t{};
        if (tcgetattr(fd, &t) == 0) {
            cfmakeraw(&t);
            if (isPty) cfsetspeed(&t, B57600);
            tcsetattr(fd, TCSANOW, &t);
        }
        master = fd;
        lineClosed = false;
        hupDuringSleep = false;
        rxFreeAt = txFreeAt = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            devicePath = path;
            // Only a pseudo-terminal tells the tool's rate (a closed line has left no probe).
            if (isPty) session.SetLineRateProbe([fd] { return ReadLineRate(fd); });
        }
        return true;
    }

    void CloseLine() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            plugged = false;
            session.SetLineRateProbe({});
        }
        if (master >= 0) ::close(master);
        master = -1;
        if (inotifyFd >= 0) ::close(inotifyFd);
        inotifyFd = -1;
    }

    bool Register(std::string* error) {
        if (config.portName.empty()) return true;
        if (!RegisterPortAlias(config.portName, CurrentDevicePath())) {
            SetError(error, RegisterErrorText("cannot register the port alias " + config.portName +
                                                  " in " + PortAliasFolder(),
                                              PortAliasFolderProblem()));
            return false;
        }
        aliasRegistered = config.portName;
        const std::string value = MapValue();
        if (!value.empty()) {
            if (!RegisterSerialDevice(value, config.portName)) {
                SetError(error, RegisterErrorText(
                                    "cannot register " + value + " in " + SerialDeviceMapFolder(),
                                    SerialDeviceMapProblem()));
                Unregister();
                return false;
            }
            mapRegistered = value;
        }
        return true;
    }

    void Unregister() {
        // The map entry first: whoever sees the port in the map finds its alias.
        if (!mapRegistered.empty()) UnregisterSerialDevice(mapRegistered);
        mapRegistered.clear();
        if (!aliasRegistered.empty()) UnregisterPortAlias(aliasRegistered);
        aliasRegistered.clear();
    }

    std::int64_t ByteNs(std::uint32_t phoneRate) const {
        std::uint32_t rate = config.linkRateBps;
        if (rate == kSimLineRate) rate = config.link == SimLink::Uart ? phoneRate : 0;
        if (rate == 0) return 0;
        const std::int64_t bits = config.link == SimLink::Uart ? 10 : 8;
        return bits * 1000000000LL / rate;
    }

    void Bump() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++generation;
        }
        changed.notify_all();
    }

    // Passes the session's new lines to onEvent, then wakes the waiters.
    void Deliver() {
        std::vector<std::pair<std::string, bool>> events;
        {
            std::lock_guard<std::mutex> lock(mutex);
            events = session.TakeEvents();
        }
        if (config.onEvent)
            for (const auto& [text, isError] : events) config.onEvent(text, isError);
        Bump();
    }

    void Note(const std::string& text, bool isError) {
        std::lock_guard<std::mutex> lock(mutex);
        session.Note(text, isError);
    }

    void Wake() {
        const std::uint64_t one = 1;
        if (::write(wakeFd, &one, sizeof one) < 0) {
            // The descriptor's counter is full: the thread has a wake-up pending anyway.
        }
    }

    void ConsumeWake() {
        std::uint64_t v;
        while (::read(wakeFd, &v, sizeof v) == static_cast<ssize_t>(sizeof v)) {
        }
    }

    bool MasterHungUp() const {
        if (master < 0) return true;
        pollfd p{master, 0, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
    }

    // Sleeps until the deadline on the monotonic clock. Long waits sleep in poll() on the wake
    // descriptor (so Stop() is prompt) and end early when the tool closes the line; the last
    // millisecond is slept with clock_nanosleep for accuracy. False when the phone is stopping.
    bool SleepUntil(std::int64_t deadlineNs) {
        for (;;) {
            if (stopping.load()) return false;
            const std::int64_t now = MonoNs();
            if (now >= deadlineNs) return true;
            const std::int64_t left = deadlineNs - now;
            if (left > 2000000) {
                pollfd fds[2] = {{wakeFd, POLLIN, 0}, {master, 0, 0}};
                const nfds_t n = (master >= 0 && !hupDuringSleep && !lineClosed) ? 2 : 1;
                const timespec ts = ToTimespec(left - 1000000);
                const int r = ::ppoll(fds, n, &ts, nullptr);
                if (r > 0 && (fds[0].revents & POLLIN)) {
                    if (stopping.load()) return false;
                    ConsumeWake();
                }
                if (r > 0 && n == 2 && (fds[1].revents & (POLLHUP | POLLERR))) {
                    // The tool closed the line: what the sleep was for (a late answer, pacing)
                    // is lost with it, so the phone is free for the next opener at once.
                    hupDuringSleep = true;
                    return true;
                }
                continue;
            }
            const timespec ts = ToTimespec(deadlineNs);
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
        }
    }

    bool WriteAll(const std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                // The tool is not reading; wait a while for room, then give up on this answer.
                pollfd p{master, POLLOUT, 0};
                if (::poll(&p, 1, 1000) > 0 && (p.revents & POLLOUT)) continue;
            }
            break;
        }
        if (done > 0) {
            std::lock_guard<std::mutex> lock(mutex);
            session.Counters().bytesSent += done;
        }
        return done == bytes.size();
    }

    // Writes the flash to the dump file (replaced whole: whoever waits for the file sees it
    // complete or not at all).
    void DumpFlash() {
        if (config.dumpPath.empty()) return;
        std::lock_guard<std::mutex> lock(mutex);
        if (const std::string why = session.Flash().Dump(config.dumpPath); !why.empty())
            session.Note("cannot write the flash dump " + config.dumpPath + ": " + why, true);
        else
            session.Note(FormatText("flash dumped to %s (%llu bytes)", config.dumpPath.c_str(),
                                    static_cast<unsigned long long>(session.Flash().WrittenEnd())),
                         false);
    }

    void Answer(const SimAnswer& answer, std::int64_t arrivalNs) {
        if (answer.bytes.empty()) return;
        const std::int64_t byteNs = ByteNs(answer.answerRate);
        const std::int64_t at = std::max(arrivalNs, MonoNs()) +
                                static_cast<std::int64_t>(answer.delayMs) * 1000000LL +
                                static_cast<std::int64_t>(config.turnaroundUs) * 1000LL;
        const std::int64_t end =
            std::max(at, txFreeAt) + byteNs * static_cast<std::int64_t>(answer.bytes.size());
        const bool timed = answer.delayMs > 0 || config.turnaroundUs > 0 || byteNs > 0;
        if (timed && !SleepUntil(end)) return;
        txFreeAt = end;
        if (hupDuringSleep || MasterHungUp())
            Note("answer dropped: the tool has closed the line", false);
        else if (!WriteAll(answer.bytes))
            Note(ErrnoText("answer not written completely"), false);
    }

    void ReadAndHandle() {
        static thread_local std::vector<std::uint8_t> buf(1 << 16);
        // A device that never runs dry (/dev/zero) must not keep the phone from stopping.
        while (!stopping.load()) {
            std::uint64_t budget;
            {
                std::lock_guard<std::mutex> lock(mutex);
                budget = session.BytesUntilHangup();
            }
            if (budget == 0) return HangUp();
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), budget));
            const ssize_t n = ::read(master, buf.data(), want);
            if (n < 0 && errno == EINTR) continue;
            if (n == 0) {
                // A pseudo-terminal never reads as end of file; a device that does (/dev/null,
                // a file) has no line behind it and would report readable for ever.
                Note(CurrentDevicePath() + " reads as end of file: no line to a tool; unplugged",
                     true);
                return HangUp();
            }
            if (n < 0) {
                // EAGAIN: all read. EIO: the tool closed its side and nothing is left.
                if (errno != EAGAIN && errno != EWOULDBLOCK) OnLineClosed();
                return;
            }
            const std::int64_t readAt = MonoNs();
            std::size_t off = 0;
            const std::size_t total = static_cast<std::size_t>(n);
            std::int64_t rxStart = std::max(rxFreeAt, readAt);
            while (off < total && !stopping.load()) {
                SimAnswer answer;
                std::int64_t byteNs;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    byteNs = ByteNs(session.PhoneRate());
                    off += session.Feed(buf.data() + off, total - off, &answer);
                }
                const std::int64_t arrival = rxStart + byteNs * static_cast<std::int64_t>(off);
                if (byteNs > 0) rxFreeAt = arrival;
                if (answer.unit) {
                    Bump();  // waiters see the unit (and its record) before its answer
                    const bool arrived = byteNs == 0 || SleepUntil(arrival);
                    if (arrived) Answer(answer, arrival);
                    Deliver();
                    // A phone answers its reset jump at once; the dump follows, also when the
                    // phone is stopping, so that it is written before the program ends.
                    if (answer.resetJump) {
                        DumpFlash();
                        Deliver();
                    }
                    if (!arrived) return;
                }
            }
            Deliver();
            if (static_cast<std::uint64_t>(n) >= budget) return HangUp();
        }
    }

    void OnLineClosed() {
        if (lineClosed) return;
        lineClosed = true;
        hupDuringSleep = false;
        SessionLineClosed();
    }

    // The tool has closed its side: its unread answers go, and the session hears of it.
    void SessionLineClosed() {
        DropUnreadAnswers();
        {
            std::lock_guard<std::mutex> lock(mutex);
            session.LineClosed();
        }
        Deliver();
    }

    // Answers the tool left unread would reach the next opener of the pseudo-terminal: a closed
    // line loses them. Flushing through the master only empties the kernel's flip buffer; what
    // has reached the slave's read queue is dropped through a short open of the slave itself.
    void DropUnreadAnswers() {
        tcflush(master, TCOFLUSH);
        if (!isPty) return;
        const int fd =
            ::open(CurrentDevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return;
        tcflush(fd, TCIFLUSH);
        ::close(fd);
    }

    // Unplugged: the names go first, then the plugged flag, then the line; whoever sees the
    // hang-up counted (or the phone unplugged) finds all of them gone.
    void HangUp() {
        Unregister();
        std::uint32_t replugMs;
        {
            // Unplugged before the line closes: a tool that sees the hang-up at once and asks to
            // plug in again must not find the phone still plugged on the old line.
            std::lock_guard<std::mutex> lock(mutex);
            plugged = false;
            session.HungUp();
            replugMs = session.ReplugAfterMs();
        }
        CloseLine();
        replugAt = replugMs > 0 ? MonoNs() + static_cast<std::int64_t>(replugMs) * 1000000LL : 0;
        Deliver();
    }

    // The tool's side is closed: wait (in poll, on the slave's open notifications when inotify
    // has them, else in short naps) until it is open again.
    void WaitForReopen() {
        // Without inotify the descriptor is -1, which poll() passes over.
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {inotifyFd, POLLIN, 0}};
        const int r = ::poll(fds, 2, inotifyFd >= 0 ? 200 : 10);
        if (r > 0 && (fds[0].revents & POLLIN)) ConsumeWake();
        if (r > 0 && (fds[1].revents & POLLIN)) {
            char events[4096];
            while (::read(inotifyFd, events, sizeof events) > 0) {
            }
        }
        if (!MasterHungUp()) lineClosed = false;
    }

    // Opens a line and registers the names; only then is the phone plugged, as the names lead
    // to the new line (and a note, when given, names it in the same step).
    bool PlugIn(std::string* error, const char* note = nullptr) {
        if (!OpenLine(error)) return false;
        if (!Register(error)) {
            CloseLine();
            return false;
        }
        std::lock_guard<std::mutex> lock(mutex);
        plugged = true;
        if (note) session.Note(note + devicePath, false);
        return true;
    }

    void Run() {
        prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);  // pacing sleeps to the microsecond
        while (!stopping.load()) {
            if (replugRequested.exchange(false)) {
                std::string error;
                if (!PlugIn(&error, "plugged in again on ")) Note("replug failed: " + error, true);
                Deliver();
                continue;
            }
            if (master < 0) {
                // Unplugged: wait for Replug(), Stop() or the time to plug in again by itself.
                int timeoutMs = -1;
                if (replugAt > 0) {
                    const std::int64_t left = replugAt - MonoNs();
                    timeoutMs = left <= 0 ? 0 : static_cast<int>(left / 1000000 + 1);
                }
                pollfd p{wakeFd, POLLIN, 0};
                if (::poll(&p, 1, timeoutMs) > 0) ConsumeWake();
                if (replugAt > 0 && MonoNs() >= replugAt) {
                    replugAt = 0;
                    replugRequested.store(true);
                }
                continue;
            }
            if (lineClosed) {
                WaitForReopen();
                continue;
            }
            if (hupDuringSleep) {
                hupDuringSleep = false;
                // The tool closed and reopened the line while the phone was busy.
                if (!MasterHungUp()) SessionLineClosed();
                continue;  // still hung up: the poll below reports it after the last bytes
            }
            pollfd fds[2] = {{master, POLLIN, 0}, {wakeFd, POLLIN, 0}};
            const int r = ::poll(fds, 2, -1);
            if (r < 0) continue;
            if (fds[1].revents & POLLIN) ConsumeWake();
            if (fds[0].revents & POLLIN) {
                ReadAndHandle();
                continue;
            }
            if (fds[0].revents & (POLLHUP | POLLERR)) OnLineClosed();
        }
    }
};

// ---------------------------------------------------------------------------------------------

SimulatedPhone::SimulatedPhone(SimPhoneConfig config)
    : config_(std::move(config)), impl_(std::make_unique<Impl>(config_)) {}

SimulatedPhone::~SimulatedPhone() {
    Stop();
}

bool SimulatedPhone::Start(std::string* error) {
    if (impl_->thread.joinable()) return true;
    impl_->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (impl_->wakeFd < 0) {
        SetError(error, ErrnoText("eventfd"));
        return false;
    }
    if (!impl_->PlugIn(error)) return false;
    impl_->stopping.store(false);
    impl_->thread = std::thread([this] { impl_->Run(); });
    return true;
}

void SimulatedPhone::Stop() {
    if (impl_->thread.joinable()) {
        impl_->stopping.store(true);
        impl_->Wake();
        impl_->thread.join();
    }
    impl_->Unregister();
    impl_->CloseLine();
    if (impl_->wakeFd >= 0) ::close(impl_->wakeFd);
    impl_->wakeFd = -1;
    impl_->Deliver();
}

std::string SimulatedPhone::DevicePath() const {
    return impl_->CurrentDevicePath();
}

std::string SimulatedPhone::DeviceMapValue() const {
    return impl_->MapValue();
}

std::vector<std::uint8_t> SimulatedPhone::FlashRange(std::uint64_t address,
                                                     std::size_t length) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->session.Flash().Read(address, length);
}

std::uint64_t SimulatedPhone::FlashWrittenEnd() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->session.Flash().WrittenEnd();
}

void SimulatedPhone::ClearFlash() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->session.Flash().Clear();
}

std::vector<SimRecordEntry> SimulatedPhone::Record() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->session.Record();
}

std::vector<std::string> SimulatedPhone::Errors() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->session.Errors();
}

SimCounters SimulatedPhone::Counters() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->session.Counters();
}

SimStage SimulatedPhone::Stage() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->session.Stage();
}

bool SimulatedPhone::WaitForReset(std::chrono::milliseconds timeout, std::uint64_t count) const {
    return WaitUntil([&] { return Counters().resets >= count; }, timeout);
}

bool SimulatedPhone::WaitForUnits(std::uint64_t count, std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return Counters().units >= count; }, timeout);
}

bool SimulatedPhone::WaitUntil(const std::function<bool()>& pred,
                               std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::uint64_t seen;
        {
            std::lock_guard<std::mutex> lock(impl_->mutex);
            seen = impl_->generation;
        }
        if (pred()) return true;
        std::unique_lock<std::mutex> lock(impl_->mutex);
        if (!impl_->changed.wait_until(lock, deadline, [&] { return impl_->generation != seen; })) {
            lock.unlock();
            return pred();
        }
    }
}

void SimulatedPhone::SetFaults(const SimFaultPlan& plan) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->session.SetFaults(plan);
}

void SimulatedPhone::PowerCycle() {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->session.PowerCycle();
    }
    impl_->Deliver();
}

bool SimulatedPhone::Replug(std::string* error) {
    if (!impl_->thread.joinable()) {
        SetError(error, "the phone is not running");
        return false;
    }
    if (IsPlugged()) return true;
    impl_->replugRequested.store(true);
    impl_->Wake();
    const bool ok = WaitUntil([this] { return IsPlugged(); }, std::chrono::seconds(5));
    if (!ok) SetError(error, "the phone could not open a new line");
    return ok;
}

bool SimulatedPhone::IsPlugged() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->plugged;
}

}  // namespace zembra
