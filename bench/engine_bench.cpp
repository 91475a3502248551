// The single download engine against a minimal reference sender, over the simulated phone.
//
// For each link (unpaced pseudo-terminal, UART at 115,200 bit/s, full-speed USB 1 MB/s with
// 1 ms turnaround, high-speed USB 40 MB/s with 125 us turnaround) and each mode the link
// carries, the same job goes into a simulated phone twice:
//  - "engine": SingleDownLoad with its bridge on a LoopMainThread (the command line's and the
//    tests' main thread), the real serial components and the default pauses;
//  - "reference": a plain loop on the device (write a frame, block in read() until the
//    answer), no main-thread hand-off, no pauses.
// The transfer rate counts only the data phase of each image (first data packet to the last
// answer); the protocol's fixed pauses (start-up sleep, command gaps, erase) are timed
// separately. The phone's flash is checked after every run.
//
// Job: two images of 4 MiB each (8 MiB): one incompressible (random), one firmware-like
// (1 MiB of structured data, then 0xFF padding). On the 115,200 bit/s UART link the images
// are scaled down to 64 KiB each (8 MiB would take about 12 minutes per run).
//
// Usage: engine_bench [--quick] [--links pty,uart,fs,hs,multi] [--line-sender-down]
//                     [--receive-thread]
//   multi     eight phones at once on full-speed USB links (see "multi run" below)
//   --quick   1 MiB images on the fast links (a smoke run)
//   --receive-thread  the single engine's answers come through its port's receive thread, as
//             on Windows, where the worker cannot wait in the port's read

#include <fcntl.h>
#include <lzo/lzo1x.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "multi/MultiDownload.h"
#include "platform/Helpers.h"
#include "platform/LoopMainThread.h"
#include "ports/VaCommPorts.h"
#include "protocol/DebugTrace.h"
#include "protocol/LzoCompressor.h"
#include "protocol/PacketCodec.h"
#include "protocol/ProtocolCodes.h"
#include "protocol/RunDisplay.h"
#include "protocol/SingleEngine.h"
#include "records/LineSender.h"
#include "sim/SimulatedPhone.h"
#include "tests/support/RecordFill.h"
#include "tests/support/TestSupport.h"

using namespace zembra;
using Bytes = std::vector<std::uint8_t>;

namespace {

// ---------------------------------------------------------------- job

struct Image {
    std::string path;
    Bytes data;
    std::uint32_t address;
};

// Code-like bytes (small-alphabet words with repeats), then erased-flash padding.
Bytes FirmwareLike(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes out(n, 0xFF);
    const std::size_t used = n / 4;
    for (std::size_t i = 0; i + 4 <= used; i += 4) {
        const std::uint32_t word = 0xE0000000u | (rng() % 4096) << 4 | (rng() % 16);
        std::memcpy(out.data() + i, &word, 4);
    }
    return out;
}

std::vector<Image> MakeJob(const test::ScratchDir& folder, std::size_t each, const char* suffix) {
    std::vector<Image> job = {{"random", test::RandomBytes(each, 7), 0x0400000},
                              {"firmware", FirmwareLike(each, 8), 0x0C00000}};
    for (Image& image : job) image.path = folder.Write(image.path + suffix + ".bin", image.data);
    return job;
}

// ---------------------------------------------------------------- results

// Processor time (user + system) of the tool side: the whole process less the threads of
// the simulated phones, which run in this process too.
class ToolCpu {
  public:
    // Around starting phones: their threads are the ones that appear in between (those of
    // the phones before are forgotten).
    void BeforePhones() {
        phoneThreads_.clear();
        before_ = Threads();
    }
    void AfterPhones() {
        for (pid_t tid : Threads())
            if (std::find(before_.begin(), before_.end(), tid) == before_.end())
                phoneThreads_.push_back(tid);
    }
    // Seconds so far: the process's processor clock less the kernel's per-thread clocks of
    // the phones' threads.
    double Now() const {
        double seconds = ClockSeconds(CLOCK_PROCESS_CPUTIME_ID);
        for (pid_t tid : phoneThreads_)
            seconds -= ClockSeconds(static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6));
        return seconds;
    }

  private:
    static double ClockSeconds(clockid_t clock) {
        timespec t{};
        if (clock_gettime(clock, &t) != 0) return 0;
        return t.tv_sec + t.tv_nsec / 1e9;
    }
    static std::vector<pid_t> Threads() {
        std::vector<pid_t> tids;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", ec))
            tids.push_back(static_cast<pid_t>(std::stol(entry.path().filename().string())));
        return tids;
    }
    std::vector<pid_t> before_;
    std::vector<pid_t> phoneThreads_;
};

ToolCpu toolCpu;

struct Result {
    bool ok = false;
    double transferMs = 0;    // data phases of all images
    double transferCpu = 0;   // processor seconds of the tool side in the data phases
    std::uint64_t bytes = 0;  // image bytes sent
    std::uint64_t packets = 0;
    double startupMs = 0;  // start until the first command on the wire
    double gapsMs = 0;     // command gaps (pauses)
    double eraseMs = 0;    // erase requests until their answers
    double totalMs = 0;
    std::string error;
};

// ---------------------------------------------------------------- the engine

// The engine's display: times the phases from the log lines and markers (main thread).
class BenchHost : public RunView {
  public:
    int gapMs = 200;
    bool inTransfer = false;
    double programStartMs = 0;  // "프로그램 시작": the first block routine begins
    double transferMs = 0;
    double eraseRequestMs = 0;
    double eraseMs = 0;
    std::atomic<double> lastRxMs{0};  // written on the port's receive thread
    double programStartCpu = 0;
    double transferCpu = 0;
    bool done = false;

    void AppendLine(LogPane, const std::string& text, std::uint32_t) override {
        const double now = NowMs();
        if (text == "삭제 요청 잠시만 기다려 주세요") eraseRequestMs = now;
        if (text == "프로그램 시작") {
            programStartMs = now;
            programStartCpu = toolCpu.Now();
            eraseMs += now - eraseRequestMs - gapMs;  // the answer came one gap earlier
            inTransfer = true;
        }
    }
    void SetMarker(int, const std::string& marker) override {
        if (marker == SENT) {
            transferMs += lastRxMs - programStartMs;  // up to the last packet's answer
            transferCpu += toolCpu.Now() - programStartCpu;
            inTransfer = false;
        }
    }
    void RunEnded(int, const RunEnd&) override { done = true; }
};

// The window's ports, counting the packets written during the data phases and the time of
// the first write.
class BenchPorts : public VaCommPorts {
  public:
    BenchPorts(DebugTrace& trace, MainThread* main, BenchHost& host, bool receiveThread)
        : VaCommPorts(trace, main), host_(host), receiveThread_(receiveThread) {}
    bool SetSingleTapReads(bool on) override {
        return !receiveThread_ && VaCommPorts::SetSingleTapReads(on);
    }
    void WriteSingle(const std::uint8_t* bytes, std::size_t count) override {
        if (firstWriteMs == 0) firstWriteMs = NowMs();
        if (host_.inTransfer) ++packets;
        VaCommPorts::WriteSingle(bytes, count);
    }
    // The time of the last answer, taken where it reaches the engine (the receive thread).
    void SetSingleReceiveTap(
        std::function<void(const std::uint8_t* data, std::size_t count)> tap) override {
        if (!tap) return VaCommPorts::SetSingleReceiveTap(nullptr);
        VaCommPorts::SetSingleReceiveTap(
            [this, tap = std::move(tap)](const std::uint8_t* data, std::size_t count) {
                host_.lastRxMs.store(NowMs());
                tap(data, count);
            });
    }
    std::uint64_t packets = 0;
    double firstWriteMs = 0;

  private:
    BenchHost& host_;
    bool receiveThread_;
};

bool receiveThreadPath = false;  // --receive-thread

Result RunEngine(SimulatedPhone& phone, LinkProtocolCode mode, const std::vector<Image>& job) {
    LoopMainThread loop;
    SetProcessMainThread(&loop);
    BenchHost host;
    DebugTrace trace;
    AskOperatorRequest ask;
    Result r;
    {
        BenchPorts ports(trace, &loop, host, receiveThreadPath);
        RunDisplay display(loop, host);
        SingleEngine engine(ports, trace, loop, ask);  // default pauses
        engine.SetRunEvents(&display);
        SingleRunConfig run;
        run.snapshot.linkProtocol = mode;
        run.snapshot.checkBinSize64K = true;
        run.snapshot.eraseWaitSec = 600;
        host.gapMs = run.snapshot.cmdGapMs;
        for (std::size_t i = 0; i < job.size(); ++i) {
            run.paths[i + 1] = job[i].path;
            run.snapshot.address[i + 1] = job[i].address;
        }
        const double start = NowMs();
        if (engine.Start(run, phone.DevicePath()) != SingleEngine::StartResult::Started) {
            r.error = "port: " + engine.lastPortError();
        } else {
            // The end comes as a task on the loop (GiveControlsBack): the loop sleeps until
            // there is work, so that its own wakes do not count as the engine's.
            while (!host.done) loop.RunUntil([&] { return host.done; }, std::chrono::minutes(10));
            r.totalMs = NowMs() - start;
            while (!engine.Idle())
                loop.RunUntil([&] { return engine.Idle(); }, std::chrono::milliseconds(1));
            r.ok = engine.shared().lastOutcome.load() == RunOutcome::Completed;
            if (!r.ok) r.error = RunOutcomeName(engine.shared().lastOutcome.load());
        }
        r.transferMs = host.transferMs;
        r.transferCpu = host.transferCpu;
        r.packets = ports.packets;
        r.startupMs = ports.firstWriteMs - start;
        // Pauses: after 0xA0, the mode negotiation, (UART: 0xB0, 0xF0), 0xC0 and 0xA0, and
        // per image after the erase and after the data.
        const int gaps = 4 + ((mode >> 8) == 2 ? 2 : 0) + 2 * static_cast<int>(job.size());
        r.gapsMs = gaps * run.snapshot.cmdGapMs;
        r.eraseMs = host.eraseMs;
        ask.Shutdown();
        loop.Shutdown();
    }
    SetProcessMainThread(nullptr);
    for (const Image& image : job) r.bytes += image.data.size();
    return r;
}

// ---------------------------------------------------------------- the reference sender

class RefLine {
  public:
    explicit RefLine(const std::string& path, bool usb) : usb_(usb) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd_ < 0) throw std::runtime_error("open " + path + ": " + std::strerror(errno));
        SetRate(B57600);
    }
    ~RefLine() {
        if (fd_ >= 0) close(fd_);
    }
    void SetRate(speed_t rate) {
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        cfsetspeed(&t, rate);
        t.c_cflag |= CLOCAL | CREAD;
        tcsetattr(fd_, TCSANOW, &t);
    }
    void Write(const std::uint8_t* data, std::size_t n) {
        while (n > 0) {
            const ssize_t w = write(fd_, data, n);
            if (w < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                throw std::runtime_error(std::string("write: ") + std::strerror(errno));
            }
            data += w;
            n -= static_cast<std::size_t>(w);
        }
    }
    // Blocks until one answer frame 7E .. 7E has arrived; returns it without the flags.
    Bytes ReadAnswer() {
        Bytes frame;
        bool open = false;
        for (;;) {
            while (pos_ < len_) {
                const std::uint8_t b = buf_[pos_++];
                if (!open) {
                    open = b == kFrameFlag;
                    continue;
                }
                if (b == kFrameFlag) {
                    if (frame.empty()) continue;
                    return frame;
                }
                frame.push_back(b);
            }
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 30000) <= 0) throw std::runtime_error("no answer");
            const ssize_t n = read(fd_, buf_, sizeof buf_);
            if (n <= 0) throw std::runtime_error("read failed");
            pos_ = 0;
            len_ = static_cast<std::size_t>(n);
        }
    }
    // A command frame (padded on USB), or a raw frame once raw is set.
    void Send(const Bytes& payload) {
        std::uint8_t out[kFrameBufferSize];
        Write(out, BuildCommandFrame(out, payload.data(), payload.size(), usb_, raw, codec_));
    }
    // Sends the command and expects ACK.
    void Command(const Bytes& payload) {
        Send(payload);
        const Bytes answer = ReadAnswer();
        if (answer.empty() || answer[0] != RSP_ACK)
            throw std::runtime_error(FormatText("command 0x%02X refused", payload[0]));
    }
    bool raw = false;

  private:
    int fd_ = -1;
    bool usb_;
    PacketCodec codec_;
    std::uint8_t buf_[4096];
    std::size_t pos_ = 0, len_ = 0;
};

// Sends one image's data in the mode; returns the number of data packets.
std::uint64_t RefSendImage(RefLine& line, LinkProtocolCode mode, const Image& image) {
    std::uint64_t packets = 0;
    const Bytes& d = image.data;
    if (mode == USB_NORMAL) {
        for (std::size_t off = 0; off < d.size(); off += 1024) {
            std::uint8_t block[1024];
            std::memset(block, 0xFF, sizeof block);
            std::memcpy(block, d.data() + off, std::min<std::size_t>(1024, d.size() - off));
            const auto send = [&](const std::uint8_t* bytes) {
                line.Write(bytes, 1024);
                ++packets;
                line.ReadAnswer();
            };
            if (StartsWithControlMarker(block, 1024)) {
                std::uint8_t control[1024];
                BuildControlBlock(control, false);
                send(control);
            }
            send(block);
        }
        return packets;
    }
    if (mode == UART_NORMAL) {
        for (std::size_t off = 0; off < d.size(); off += 4096) {
            const std::size_t n = std::min<std::size_t>(4096, d.size() - off);
            Bytes payload(7 + n, CMD_WRITE_DATA);
            PutLe32(&payload[1], image.address + static_cast<std::uint32_t>(off));
            payload[5] = static_cast<std::uint8_t>(n);
            payload[6] = static_cast<std::uint8_t>(n >> 8);
            std::copy_n(d.begin() + static_cast<long>(off), n, payload.begin() + 7);
            line.Send(payload);
            ++packets;
            line.ReadAnswer();
        }
        return packets;
    }
    // Compressed modes: 64 KiB blocks with their header, LZO1X-1, 1,020 / 8,192-byte packets.
    const bool usb = mode == USB_PPV;
    const std::size_t chunk = usb ? kUsbCompressedChunk : kUartCompressedChunk;
    static OwnLzoCompressor lzo;
    Bytes packed(LzoOutputBound(0x10008));
    for (std::size_t off = 0; off < d.size(); off += 0x10000) {
        const std::size_t n = std::min<std::size_t>(0x10000, d.size() - off);
        Bytes block(0x10008, 0xFF);
        PutLe32(&block[0], image.address + static_cast<std::uint32_t>(off));
        PutLe32(&block[4], static_cast<std::uint32_t>(n));
        std::copy_n(d.begin() + static_cast<long>(off), n, block.begin() + 8);
        const LzoResult packing = lzo.Compress(block.data(), n + 8, packed.data());
        const bool compressed = packing.ok && packing.length < n + 8;
        const std::uint8_t* stream = compressed ? packed.data() : block.data();
        const std::size_t total = compressed ? packing.length : block.size();
        for (std::size_t sent = 0; sent < total; sent += chunk) {
            const std::size_t m = std::min(total - sent, chunk);
            Bytes payload;
            payload.reserve(2 + m);
            payload.push_back(CMD_COMPRESSED);
            payload.push_back(sent + chunk >= total
                                  ? COMPRESSED_LAST
                                  : (compressed ? COMPRESSED_CONTINUES : UNCOMPRESSED_CONTINUES));
            payload.insert(payload.end(), stream + sent, stream + sent + m);
            line.Send(payload);  // raw frames in the compressed USB mode
            ++packets;
            const Bytes answer = line.ReadAnswer();
            if (answer.empty() || answer[0] != RSP_ACK) throw std::runtime_error("data refused");
        }
    }
    return packets;
}

Result RunReference(SimulatedPhone& phone, LinkProtocolCode mode, const std::vector<Image>& job) {
    Result r;
    const double start = NowMs();
    try {
        const bool usb = (mode >> 8) == 1;
        RefLine line(phone.DevicePath(), usb);
        line.Command({CMD_DOWNLOAD_START});
        if (mode == USB_PPV || mode == UART_PRESS) {
            line.Command({CMD_COMPRESSED, COMPRESSED_REQUEST});
            if (usb) line.raw = true;
        }
        if (!usb) {
            line.Command({CMD_MODULE_COPY});
            line.Command({CMD_BAUD_SWITCH, BAUD_115200});
        }
        line.Command({CMD_JUMP});
        if (!usb) line.SetRate(B115200);
        line.Command({CMD_DOWNLOAD_START});
        for (const Image& image : job) {
            Bytes erase(9, CMD_ERASE);
            PutLe32(&erase[1], image.address);
            PutLe32(&erase[5], static_cast<std::uint32_t>(image.data.size()));
            const double e0 = NowMs();
            line.Command(erase);
            r.eraseMs += NowMs() - e0;
            const double t0 = NowMs();
            const double cpu0 = toolCpu.Now();
            r.packets += RefSendImage(line, mode, image);
            r.transferMs += NowMs() - t0;
            r.transferCpu += toolCpu.Now() - cpu0;
            r.bytes += image.data.size();
        }
        line.Command({CMD_JUMP});
        r.ok = true;
    } catch (const std::exception& e) {
        r.error = e.what();
    }
    r.totalMs = NowMs() - start;
    return r;
}

// ---------------------------------------------------------------- table

struct LinkCase {
    const char* name;
    const char* key;
    std::uint32_t rateBps;  // 0 unpaced
    std::uint32_t turnaroundUs;
    bool usbModes;
    bool uartModes;
    bool scaled;  // images scaled down
    int reps;     // runs per sender (best one shown)
};

std::string ModeName(LinkProtocolCode mode) {
    return std::string((mode >> 8) == 1 ? "USB " : "UART ") +
           (mode == USB_PPV || mode == UART_PRESS ? "compressed" : "normal");
}

}  // namespace

// ================================================================ multi run
//
// Eight simulated phones on paced full-speed USB links (1 MB/s, 1 ms turnaround) written at
// once by the multi download (MultiDownload, eight MultiSingleBoxDLU workers, one shared LZO
// work memory under lzoLock), against one phone alone on the same link through the same path
// in the same run. Image bytes per second count the transfer phase (first to last data packet
// over all phones; start-up delays are shortened and the command gap is 1 ms). The ratio is
// aggregate / (8 x one phone): 1.0 means the eight workers do not slow each other.

namespace multi_run {

constexpr std::uint32_t kFontAddress = 0x400000;
constexpr std::uint32_t kLinkBps = 8000000;  // 1 MB/s at 8 bits per byte
constexpr std::uint32_t kTurnaroundUs = 1000;

class QuietHost : public OperatorQuestions, public RunView {
  public:
    void AppendLine(LogPane, const std::string& text, std::uint32_t colour) override {
        if (colour == 0x0000FF) std::fprintf(stderr, "  %s\n", text.c_str());
    }
    int AskOperator(const std::string&, const std::string&, int) override { return 0; }
    bool AcceptJob(const DownloadJob&, const JobCheckResult& check, StartKind) override {
        for (int code : check.codes) std::fprintf(stderr, "  job error %d\n", code);
        return false;
    }
    bool ConfirmStart(const DownloadJob&, std::array<std::string, MULTI_SLOT_COUNT>*) override {
        return true;
    }
};

struct Images {
    std::string code, font;
};

Images MakeImages(const test::ScratchDir& folder, std::size_t imageSize) {
    std::mt19937 rng(7);
    // Firmware-like code image: code-ish bytes, then 0xFF padding; its trailer holds the
    // version and the boot location 0x10000 (the code goes from there).
    Bytes code(imageSize, 0xFF);
    for (std::size_t i = 0; i < imageSize * 3 / 4; ++i)
        code[i] = static_cast<std::uint8_t>((i % 13) == 0 ? rng() : (i * 31) & 0x7F);
    return {folder.Write("code.bin", test::WithTrailer(code, 0x4215, 0x10000)),
            folder.Write("font1.bin", test::RandomBytes(imageSize, 8))};
}

struct RunResult {
    bool ok = false;
    double cpu = 0;           // processor seconds of the tool side, Start to the end
    double wall = 0;          // seconds, Start to the end
    double seconds = 0;       // first data packet to last data packet, over all phones
    std::uint64_t bytes = 0;  // image bytes written into the phones' flash
};

RunResult RunPhones(int count, ProtocolChoice protocol, const Images& images) {
    RunResult result;
    LoopMainThread loop;
    SetProcessMainThread(&loop);
    std::vector<std::unique_ptr<SimulatedPhone>> phones;
    toolCpu.BeforePhones();
    for (int slot = 0; slot < count; ++slot) {
        SimPhoneConfig config;
        config.portName = FormatText("COM%d", 65 + slot);
        config.linkRateBps = kLinkBps;
        config.turnaroundUs = kTurnaroundUs;
        phones.push_back(std::make_unique<SimulatedPhone>(config));
        std::string error;
        if (!phones.back()->Start(&error)) {
            std::fprintf(stderr, "phone: %s\n", error.c_str());
            SetProcessMainThread(nullptr);
            return result;
        }
    }
    {
        DebugTrace trace;
        VaCommPorts ports(trace, &loop);
        QuietHost host;
        // Production delays would only add idle time before the transfers; the window below
        // starts at the first data packet anyway.
        const std::array<std::string, MULTI_SLOT_COUNT>* slotNames = nullptr;
        RunDisplay display(loop, host, [&slotNames](int slot) {
            return (*slotNames)[static_cast<std::size_t>(slot - 1)];
        });
        MultiDownload multi(loop, ports, host, MultiStartTiming{50, 0});
        slotNames = &multi.slotPortNames();
        multi.SetRunEvents(&display);

        DownloadJob job;
        job[ImageSlot::Code].path = images.code;
        job[ImageSlot::Font1].path = images.font;
        job[ImageSlot::Font1].addressText = FormatText("0x%X", kFontAddress);
        MultiStartRequest request;
        request.settings.usbProtocol = protocol;
        request.settings.cmdGapMs = "1";
        request.settings.eraseWaitSec = "10";
        for (int slot = 0; slot < count; ++slot)
            request.slotPortNames[static_cast<std::size_t>(slot)] = FormatText("COM%d", 65 + slot);
        toolCpu.AfterPhones();
        const double cpu0 = toolCpu.Now();
        const double wall0 = NowMs();
        if (multi.Start(job, request) == MultiStartOutcome::Started) {
            loop.RunUntil([&] { return !multi.AnyWorkerActive(); }, std::chrono::minutes(5));
            result.cpu = toolCpu.Now() - cpu0;
            result.wall = (NowMs() - wall0) / 1000.0;
            multi.Tick();
            result.ok = true;
            for (int slot = 0; slot < count; ++slot)
                result.ok = result.ok && multi.worker(slot)->endCode() == END_FINISHED;
        }
    }
    double first = 0, last = 0;
    for (auto& phone : phones) {
        for (const auto& entry : phone->Record()) {
            const bool data = entry.kind == SimUnitKind::DataBlock ||
                              entry.kind == SimUnitKind::ControlBlock ||
                              (entry.command == 0x12 && entry.flag != 0x00);
            if (!data) continue;
            if (first == 0 || entry.timeMs < first) first = entry.timeMs;
            last = std::max(last, entry.timeMs);
        }
        result.bytes += phone->Counters().bytesWritten;
    }
    phones.clear();
    SetProcessMainThread(nullptr);
    result.seconds = (last - first) / 1000.0;
    return result;
}

// Runs the multi benchmark and prints its table; returns false when a run failed.
bool RunMultiBenchmark(bool quick, const test::ScratchDir& folder) {
    const std::size_t imageSize = quick ? (256u << 10) : (1u << 20);
    const Images images = MakeImages(folder, imageSize);
    // The machine is shared: each side keeps its best of several runs, taken in turn.
    const int runs = quick ? 1 : 3;
    std::printf(
        "\nMulti download: 8 phones at once vs 1 phone, paced USB %u bit/s, %u us "
        "turnaround, 2 x %zu KiB per phone; best of %d run(s) each, taken in turn\n",
        kLinkBps, kTurnaroundUs, imageSize / 1024, runs);
    std::printf("%-11s %14s %16s %18s %8s %14s %14s\n", "mode", "1 phone B/s", "8 phones B/s",
                "8 x 1 phone B/s", "ratio", "cpu 1 (s/%)", "cpu 8 (s/%)");
    bool ok = true;
    for (ProtocolChoice protocol : {ProtocolChoice::Press, ProtocolChoice::Normal}) {
        const auto rate = [](const RunResult& r) {
            return r.seconds > 0 ? r.bytes / r.seconds : 0;
        };
        RunResult single, eight;
        for (int run = 0; run < runs; ++run) {
            const RunResult one = RunPhones(1, protocol, images);
            const RunResult all = RunPhones(8, protocol, images);
            ok = ok && one.ok && all.ok;
            if (run == 0 || rate(one) > rate(single)) single = one;
            if (run == 0 || rate(all) > rate(eight)) eight = all;
        }
        const double singleRate = rate(single);
        const double eightRate = rate(eight);
        const auto cpu = [](const RunResult& r) {
            return FormatText("%.2f/%.0f%%", r.cpu, r.wall > 0 ? 100 * r.cpu / r.wall : 0.0);
        };
        std::printf("%-11s %14.0f %16.0f %18.0f %8.3f %14s %14s%s\n",
                    protocol == ProtocolChoice::Press ? "USB_PPV" : "USB_NORMAL", singleRate,
                    eightRate, 8 * singleRate, singleRate > 0 ? eightRate / (8 * singleRate) : 0.0,
                    cpu(single).c_str(), cpu(eight).c_str(),
                    single.ok && eight.ok ? "" : "  (a run failed)");
    }
    return ok;
}

}  // namespace multi_run

int main(int argc, char** argv) {
    bool quick = false;
    bool lineSenderDown = false;
    std::string links = "pty,uart,fs,hs,multi";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick") {
            quick = true;
        } else if (a == "--links" && i + 1 < argc) {
            links = argv[++i];
        } else if (a == "--line-sender-down") {
            lineSenderDown = true;
        } else if (a == "--receive-thread") {
            receiveThreadPath = true;
        } else {
            std::fprintf(stderr,
                         "usage: engine_bench [--quick] [--links pty,uart,fs,hs,multi] "
                         "[--line-sender-down] [--receive-thread]\n");
            return 2;
        }
    }
    if (lzo_init() != LZO_E_OK) return 1;
    const test::ScratchDir folder("bench");
    // A station's line sender beside the downloads, with 10,000 records waiting for a server
    // that is not there (it retries all along).
    std::unique_ptr<LineSender> lineSender;
    if (lineSenderDown) {
        const std::string db = folder.File("records.sqlite");
        if (!zembra::test::FillRecords(db, "bench", 10000).empty()) return 1;
        LineSenderConfig config;
        config.localPath = db;
        config.server = "host=" + folder.path() + " port=5999 dbname=none user=none";
        lineSender = std::make_unique<LineSender>(config);
        lineSender->Start();
        std::printf("A line sender runs beside the downloads, its server down.\n");
    }
    const std::size_t big = quick ? (1u << 20) : (4u << 20);
    const std::vector<Image> job = MakeJob(folder, big, "");
    const std::vector<Image> uartJob = MakeJob(folder, 0x10000, "_small");

    const LinkCase cases[] = {
        {"unpaced pty", "pty", 0, 0, true, true, false, 3},
        {"UART 115200", "uart", kSimLineRate, 0, false, true, true, 1},
        {"USB full-speed 1 MB/s, 1 ms", "fs", 8000000, 1000, true, false, false, 3},
        {"USB high-speed 40 MB/s, 125 us", "hs", 320000000, 125, true, false, false, 3},
    };
    std::printf(
        "Job: 2 images (incompressible + firmware-like), %zu KiB each; UART 115200: %d KiB each\n"
        "Rates: data phases only (first data packet to last answer); best of 3 runs on the pty "
        "and USB links, 1 run otherwise.\ncpu s: processor time (user + system) of the "
        "sender's side in the data phases (the simulated phone's thread not counted), the least "
        "of the runs; cpu %%:\nof the best run's wall time; cpu x: engine / reference.\nPauses "
        "(engine, ms): "
        "start-up = Start to first command, gaps = pauses x cmdGapMs, erase = erase requests "
        "to their answers.\n\n",
        big / 1024, 64);
    std::printf("%-31s %-16s %-9s %12s %10s %9s %6s %7s %6s %6s | %8s %7s %8s %9s\n", "link",
                "mode", "sender", "image B/s", "packets/s", "xfer s", "ratio", "cpu s", "cpu %",
                "cpu x", "startup", "gaps", "erase", "total s");
    for (const LinkCase& link : cases) {
        if (links.find(link.key) == std::string::npos) continue;
        std::vector<LinkProtocolCode> modes;
        if (link.usbModes) modes.insert(modes.end(), {USB_PPV, USB_NORMAL});
        if (link.uartModes) modes.insert(modes.end(), {UART_NORMAL, UART_PRESS});
        for (LinkProtocolCode mode : modes) {
            SimPhoneConfig config;
            config.link = (mode >> 8) == 1 ? SimLink::Usb : SimLink::Uart;
            config.linkRateBps = link.rateBps;
            config.turnaroundUs = link.turnaroundUs;
            SimulatedPhone phone(config);
            std::string error;
            toolCpu.BeforePhones();
            const bool started = phone.Start(&error);
            toolCpu.AfterPhones();
            if (!started) {
                std::fprintf(stderr, "phone: %s\n", error.c_str());
                return 1;
            }
            const std::vector<Image>& j = link.scaled ? uartJob : job;
            // Alternate the two senders and keep each one's best run: the machine is shared,
            // and the best run is the one least disturbed by other work. The same holds for
            // the processor time, which is disturbed on its own (a thread's time slices cost
            // more when other work has taken its caches): each side's least is kept.
            Result ref, ours;
            bool refFlash = true, oursFlash = true;
            std::uint64_t resets = 0;
            for (int rep = 0; rep < link.reps; ++rep) {
                const auto keep = [&](const Result& run, Result& best, bool& flash) {
                    phone.WaitForReset(std::chrono::seconds(10), ++resets);
                    for (const Image& image : j)
                        flash = flash &&
                                phone.FlashRange(image.address, image.data.size()) == image.data;
                    phone.ClearFlash();
                    const double leastCpu =
                        rep > 0 && best.ok ? std::min(best.transferCpu, run.transferCpu) : 0;
                    if (rep == 0 || !run.ok || (best.ok && run.transferMs < best.transferMs))
                        best = run;
                    if (leastCpu > 0 && run.ok) best.transferCpu = leastCpu;
                };
                keep(RunReference(phone, mode, j), ref, refFlash);
                keep(RunEngine(phone, mode, j), ours, oursFlash);
            }
            const auto rate = [](const Result& x) { return x.bytes / (x.transferMs / 1000.0); };
            auto row = [&](const char* who, const Result& x, bool flash, double ratio,
                           double cpuRatio) {
                const std::string ratioText = ratio > 0 ? FormatText("%.3f", ratio) : "";
                const std::string cpuText = cpuRatio > 0 ? FormatText("%.2f", cpuRatio) : "";
                std::printf(
                    "%-31s %-16s %-9s %12.0f %10.0f %9.3f %6s %7.3f %6.1f %6s | %8.0f %7.0f "
                    "%8.1f %9.2f%s%s\n",
                    link.name, ModeName(mode).c_str(), who, rate(x),
                    x.packets / (x.transferMs / 1000.0), x.transferMs / 1000.0, ratioText.c_str(),
                    x.transferCpu, 100.0 * x.transferCpu / (x.transferMs / 1000.0), cpuText.c_str(),
                    x.startupMs, x.gapsMs, x.eraseMs, x.totalMs / 1000.0,
                    x.ok && flash ? "" : "  FAILED: ",
                    x.ok && flash ? "" : (x.error.empty() ? "flash differs" : x.error.c_str()));
            };
            row("reference", ref, refFlash, 0, 0);
            row("engine", ours, oursFlash, rate(ours) / rate(ref),
                ref.transferCpu > 0 ? ours.transferCpu / ref.transferCpu : 0);
            std::fflush(stdout);
        }
    }
    const bool ok =
        links.find("multi") == std::string::npos || multi_run::RunMultiBenchmark(quick, folder);
    return ok ? 0 : 1;
}
